#include "app/CollectionPreview.h"

#include "app/CollectionFilter.h"
#include "app/RunReport.h"
#include "platform/drives/Drives.h"
#include "platform/files/PathWalk.h"
#include "platform/shell/Shell.h"
#include "platform/shell/Trash.h"
#include "runtime/Errors.h"
#include "runtime/IniFile.h"
#include "scan/Masks.h"
#include "sysinfo/DriveList.h"

#include <QLocale>
#include <ostream>

namespace {

const char* const SettingsFile = "vorlax.ini";
const char* const UnchosenSettingsText = "Open Vorlax once to choose what it collects.";

// The length of the UTF-8 sequence of a printable character at text[at], or 0.
std::size_t printableLength(const std::string& text, std::size_t at)
{
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(at);
    if (lead < 0x80)
        return lead >= 0x20 && lead != 0x7f ? 1 : 0;
    std::size_t length = 0;
    char32_t code = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        code = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        code = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + k) & 0x3f);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid =
        code >= least[length] && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    // The second block of control characters is no more printable than the first.
    return valid && (code < 0x80 || code > 0x9f) ? length : 0;
}

} // namespace

class TCollectionPreview::Scan : public TFilesScan
{
public:
    Scan(TCollectionPreview& owner, std::size_t step, const TCollectionStep& plan)
        : filter(plan.reach, plan.ScanDir), m_owner(owner), m_step(step)
    {
        // The run's scanner as the window stores it, with the stage's settings.
        Attributes = {faArchive};
        UpdateList = true;
        ProcessMsg = owner.ProcessMsg;
        Filter = &filter;
        FileMask = plan.FileMask;
        ScanOptions = plan.ScanOptions;
        Recursive = true;
        ScanDir = plan.ScanDir;
        if (owner.OnFolder)
            OnProcess = [&owner](TFilesScan*, const std::string& Dir, int, std::int64_t) {
                owner.OnFolder(Dir);
            };
    }

    TCollectionFilter filter;

protected:
    void AddFile(const std::string& Folder, const TSearchRec& Entry) override
    {
        m_owner.found(m_step, *this, JoinPath(Folder, {}) + Entry.Name, Entry.Size);
    }

private:
    TCollectionPreview& m_owner;
    std::size_t m_step;
};

TCollectionPreview::TCollectionPreview(TCollectionPlan plan) : m_plan(std::move(plan)) {}

TCollectionPreview::~TCollectionPreview() = default;

void TCollectionPreview::Stop()
{
    m_stopped = true;
    if (m_running)
        m_running->Stop();
}

void TCollectionPreview::Execute()
{
    m_totals.clear();
    m_listed.clear();
    // The folders of the files found stay open while their files are looked at.
    const platform::KeptWalk walk;
    for (std::size_t index = 0; index < m_plan.steps.size() && !m_stopped; ++index) {
        const TCollectionStep& step = m_plan.steps[index];
        if (step.kind == TCollectionStep::Kind::Refusal) {
            if (OnRefusal)
                OnRefusal(step.warning);
            continue;
        }
        Scan scan(*this, index, step);
        m_totals.push_back({step.stage, 0, 0});
        m_running = &scan;
        try {
            scan.Execute();
        } catch (...) {
            m_running = nullptr;
            m_totals.pop_back();
            throw;
        }
        m_running = nullptr;
    }
}

void TCollectionPreview::found(std::size_t step, Scan& scan, const std::string& windowsPath,
                               std::int64_t size)
{
    // The run's own tests, in its order, as it makes them just before a move.
    if (windowsPath.find_first_of(";*?") != std::string::npos ||
        !platform::isCollectable(windowsPath) || scan.filter.rules.usedLately(windowsPath))
        return;
    std::string native = platform::toNativePath(windowsPath);
    if (native.empty() || m_listed.count(native) || platform::fileInUse(native))
        return;
    TStageTotal& total = m_totals.back();
    ++total.files;
    total.bytes += size;
    const TPreviewFile file{step, windowsPath, native, size};
    m_listed.insert(std::move(native));
    if (OnFile)
        OnFile(file);
}

std::string escapedPath(const std::string& path)
{
    std::string escaped;
    escaped.reserve(path.size());
    for (std::size_t at = 0; at < path.size();) {
        const char c = path[at];
        const char* named = nullptr;
        switch (c) {
        case '\a':
            named = "\\a";
            break;
        case '\b':
            named = "\\b";
            break;
        case '\t':
            named = "\\t";
            break;
        case '\n':
            named = "\\n";
            break;
        case '\v':
            named = "\\v";
            break;
        case '\f':
            named = "\\f";
            break;
        case '\r':
            named = "\\r";
            break;
        case '\\':
            named = "\\\\";
            break;
        case ' ':
            named = "\\ ";
            break;
        default:
            break;
        }
        if (named) {
            escaped += named;
            ++at;
            continue;
        }
        if (const std::size_t length = printableLength(path, at)) {
            escaped.append(path, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        escaped += '\\';
        escaped += static_cast<char>('0' + (byte >> 6));
        escaped += static_cast<char>('0' + ((byte >> 3) & 7));
        escaped += static_cast<char>('0' + (byte & 7));
        ++at;
    }
    return escaped;
}

std::string stageSummary(const std::string& stage, int files, std::int64_t bytes)
{
    const std::string human =
        QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat).toStdString();
    // "Drive C:" needs no colon of its own.
    return stage + (stage.ends_with(':') ? " " : ": ") + std::to_string(files) +
           (files == 1 ? " file, " : " files, ") +
           kilobytesText(static_cast<std::uint64_t>(bytes)) + " (" + human + ")";
}

int runPreview(bool nul, std::ostream& out, std::ostream& err)
{
    std::ostream& summary = nul ? err : out;
    try {
        const runtime::MemIniFile ini(SettingsFile);
        if (!ini.exists()) {
            err << UnchosenSettingsText << std::endl;
            return 0;
        }
        // The drive boxes the window shows: the fixed disks among C: to F:.
        std::array<bool, 4> fixed{};
        TDriveList list;
        const int count = list.Count();
        for (std::size_t k = 0; k < fixed.size(); ++k) {
            const std::string root = std::string(1, static_cast<char>('C' + k)) + ":\\";
            for (int i = 0; i < count && !fixed[k]; ++i)
                fixed[k] = list.Drive(i) == root && list.DriveType(i) == dtFixed;
        }
        TCollectionPreview preview(planCollection(readCollectionSettings(ini, fixed)));
        preview.OnRefusal = [&err](const std::string& warning) { err << warning << std::endl; };
        // For xargs -0 the bytes stay as they are: only a line needs its name escaped.
        preview.OnFile = [&out, nul](const TPreviewFile& file) {
            if (nul)
                out << file.nativePath << '\0';
            else
                out << escapedPath(file.nativePath) << '\n';
        };
        std::string maskError;
        try {
            preview.Execute();
        } catch (const EMaskException& error) {
            maskError = error.what();
        }
        int files = 0;
        std::int64_t bytes = 0;
        out.flush();
        for (const TStageTotal& total : preview.Totals()) {
            summary << stageSummary(total.stage, total.files, total.bytes) << "\n";
            files += total.files;
            bytes += total.bytes;
        }
        summary << stageSummary("Total", files, bytes) << std::endl;
        if (!maskError.empty()) {
            err << maskError << std::endl;
            return 1;
        }
        return 0;
    } catch (const runtime::IniFileError& error) {
        err << error.what() << std::endl;
        return 2;
    }
}
