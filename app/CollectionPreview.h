#pragma once

#include "app/CollectionPlan.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

// One file a collection would move.
struct TPreviewFile
{
    std::size_t step = 0; // index into the plan's steps
    std::string windowsPath;
    std::string nativePath;
    std::int64_t size = 0;
};

// What one stage would move.
struct TStageTotal
{
    std::string stage;
    int files = 0;
    std::int64_t bytes = 0;
};

// Lists what a collection with a plan would move now, moving and writing nothing: every
// scan of the plan with the run's own scanner settings and rules, then, for each file
// found, the run's own last checks (a name the shell could misread, another user's file or
// one in a trash, used again since the search, held open by another program).
class TCollectionPreview
{
public:
    explicit TCollectionPreview(TCollectionPlan plan);
    ~TCollectionPreview();
    TCollectionPreview(const TCollectionPreview&) = delete;
    TCollectionPreview& operator=(const TCollectionPreview&) = delete;

    // Runs the plan's steps in order. Throws EMaskException for an invalid mask, as the run
    // does, once the stages before it are listed.
    void Execute();
    // Ends a running Execute at its next test.
    void Stop();
    bool Stopped() const { return m_stopped; }

    // Let the toolkit process pending messages while searching.
    bool ProcessMsg = false;
    std::function<void(const TPreviewFile& File)> OnFile;
    // A refusal the run would show (and save by clearing its box); nothing is cleared here.
    std::function<void(const std::string& Warning)> OnRefusal;
    // Each folder the search enters, as the run's status caption shows it.
    std::function<void(const std::string& Folder)> OnFolder;

    const TCollectionPlan& Plan() const { return m_plan; }
    // One for each scan step that ran, in the plan's order.
    const std::vector<TStageTotal>& Totals() const { return m_totals; }

private:
    class Scan;
    void found(std::size_t step, Scan& scan, const std::string& windowsPath, std::int64_t size);

    TCollectionPlan m_plan;
    std::vector<TStageTotal> m_totals;
    // What an earlier stage listed: a run would have moved it by the time a later one
    // searched.
    std::unordered_set<std::string> m_listed;
    Scan* m_running = nullptr;
    bool m_stopped = false;
};

// A path as `ls --quoting-style=escape` shows a name: printable UTF-8 as it is, the usual
// C escapes, "\ " for a blank, and every other byte as "\ooo".
std::string escapedPath(const std::string& path);

// "Drive C: 3 files, 12 Kb (12.5 KiB)": the window's amount and a human unit.
std::string stageSummary(const std::string& stage, int files, std::int64_t bytes);

// `vorlax --preview`: lists what a collection with the saved settings would move, one
// escaped path a line (with nul: each path as it is, ended by NUL), then the summaries (to err with
// nul, so that the list stays fit for xargs -0). 0, or 1 for an invalid mask, 2 for a settings file
// that cannot be read.
int runPreview(bool nul, std::ostream& out, std::ostream& err);
