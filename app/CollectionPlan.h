#pragma once

#include "platform/collection/CollectionRules.h"
#include "scan/FilesScn.h"

#include <array>
#include <string>
#include <vector>

namespace runtime {
class CustomIniFile;
}

// What a collection reads of the settings: the Configure tab's boxes and texts, whether
// they come from the window or from vorlax.ini.
struct TCollectionSettings
{
    // Ticked and standing for a fixed disk, C: to F:.
    std::array<bool, 4> Drives{};
    bool RunScanDisk = false;
    bool DelCHK = false;
    bool DelTempFiles = false;
    bool DelCache = false;
    bool DelBAK = false;
    bool DelTMP = false;
    bool DelUser1 = false;
    bool DelUser2 = false;
    std::string Cache;
    std::string User1;
    std::string User2;
    bool operator==(const TCollectionSettings&) const = default;
};

// Nothing but spaces, or nothing at all: a text no setting takes as given.
bool isBlank(const std::string& text);
// The designator of drive slot k of the settings: "C:" for the first.
std::string driveOfSlot(std::size_t k);

// The settings as the window loads them from the file, with its defaults, for a drive list
// that tells which of C: to F: are fixed disks. Throws IniFileError for a file that
// cannot be read.
TCollectionSettings readCollectionSettings(const runtime::CustomIniFile& ini,
                                           const std::array<bool, 4>& fixedDrives);

// The boxes of the settings a refusal clears.
enum class TSettingsBox { TempFiles, Cache, User1, User2 };

// One step of a collection after the disk checker, in the order of the run.
struct TCollectionStep
{
    enum class Kind { Refusal, Scan };
    Kind kind = Kind::Scan;

    // A refusal: the warning and the box a run clears so that the refusal is saved.
    std::string warning;
    TSettingsBox box = TSettingsBox::TempFiles;

    // A scan, and the deletion of what it finds. Stage names the stage, never a path.
    std::string stage;
    std::string FileMask;
    TScanOptions ScanOptions = soSpecifiedDir;
    std::string ScanDir;
    platform::CollectionRules::Reach reach = platform::CollectionRules::Reach::Masks;
};

struct TCollectionPlan
{
    // The disk checker's command line; empty when it does not run.
    std::string diskChecker;
    std::vector<TCollectionStep> steps;
};

// What a collection with these settings does now: which stages run, in which order, with
// which masks, folders and scan options, and what it refuses. The run and every listing
// of what a run would take follow it, so the two cannot differ.
TCollectionPlan planCollection(const TCollectionSettings& settings);
