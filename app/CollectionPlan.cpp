#include "app/CollectionPlan.h"

#include "app/Wmiscio.h"
#include "platform/files/Folders.h"
#include "platform/shell/Shell.h"
#include "runtime/Errors.h"
#include "runtime/IniFile.h"

#include <algorithm>

namespace {

using Reach = platform::CollectionRules::Reach;

bool tempFolderFit(const std::string& folder)
{
    // A trash holds what the user has already put aside, and its neighbours are their data.
    return folder != GetWindowsFolder() && folder != GetSystemFolder() &&
           !platform::isFolderUnfitToEmpty(folder) && !platform::holdsTrash(folder);
}

bool cacheFolderFit(const std::string& folder)
{
    // A cache of its own lies on a disk; what is reachable only through the letter for "/"
    // is the system's, and a trash holds what the user has already put aside.
    return !platform::isFolderUnfitToEmpty(folder) && !platform::liesOnlyOnRootDrive(folder) &&
           !platform::holdsTrash(folder);
}

TCollectionStep refusal(std::string warning, TSettingsBox box)
{
    TCollectionStep step;
    step.kind = TCollectionStep::Kind::Refusal;
    step.warning = std::move(warning);
    step.box = box;
    return step;
}

TCollectionStep scan(std::string stage, std::string mask, TScanOptions options, std::string dir,
                     Reach reach)
{
    TCollectionStep step;
    step.stage = std::move(stage);
    step.FileMask = std::move(mask);
    step.ScanOptions = options;
    step.ScanDir = std::move(dir);
    step.reach = reach;
    return step;
}

} // namespace

bool isBlank(const std::string& text)
{
    return text.find_first_not_of(' ') == std::string::npos;
}

std::string driveOfSlot(std::size_t k)
{
    return std::string(1, static_cast<char>('C' + k)) + ":";
}

TCollectionSettings readCollectionSettings(const runtime::CustomIniFile& ini,
                                           const std::array<bool, 4>& fixedDrives)
{
    TCollectionSettings s;
    for (std::size_t k = 0; k < s.Drives.size(); ++k)
        s.Drives[k] =
            fixedDrives[k] && ini.readInteger("Drives", "Drive" + std::to_string(k), 0) == 1;
    s.Cache = ini.readString("Actions", "Cache", "");
    s.RunScanDisk = ini.readInteger("Actions", "RunScanDisk", 1) == 1;
    s.DelCHK = ini.readInteger("Actions", "DelCHK", 1) == 1;
    s.DelTempFiles = ini.readInteger("Actions", "DelTempFiles", 1) == 1;
    s.DelCache = !isBlank(s.Cache) && ini.readInteger("Actions", "DelCache", 1) == 1;
    s.DelBAK = ini.readInteger("Actions", "DelBAK", 1) == 1;
    s.DelTMP = ini.readInteger("Actions", "DelTMP", 1) == 1;
    s.DelUser1 = ini.readInteger("Actions", "DelUser1", 0) == 1;
    s.DelUser2 = ini.readInteger("Actions", "DelUser2", 0) == 1;
    s.User1 = ini.readString("User", "User1", "");
    s.User2 = ini.readString("User", "User2", "");
    return s;
}

TCollectionPlan planCollection(const TCollectionSettings& s)
{
    TCollectionPlan plan;
    bool anyDrive = false;
    std::string drives;
    for (std::size_t k = 0; k < s.Drives.size(); ++k) {
        if (s.Drives[k]) {
            anyDrive = true;
            drives += driveOfSlot(k) + " ";
        }
    }
    if (s.RunScanDisk && !isBlank(drives))
        plan.diskChecker = "SCANDSKW.EXE " + drives + " /n";

    if (s.DelTempFiles) {
        const std::string temp = GetTempFolder();
        if (!tempFolderFit(temp))
            plan.steps.push_back(refusal("Can't delete temp files as no seperate temp folder",
                                         TSettingsBox::TempFiles));
        else
            plan.steps.push_back(
                scan("Temporary folder", "*", soSpecifiedDir, temp, Reach::WholeFolder));
    }

    if (s.DelCache && !isBlank(s.Cache)) {
        std::string cache = s.Cache;
        if (RightStr(cache, 1) == "\\")
            cache.pop_back();
        if (!cacheFolderFit(cache))
            plan.steps.push_back(
                refusal(runtime::formatMessage("Can't delete cache files from %s", cache),
                        TSettingsBox::Cache));
        else
            plan.steps.push_back(
                scan("Cache folder", "*", soSpecifiedDir, cache, Reach::WholeFolder));
    }

    // A slip such as "*" would send the whole drive to the trash.
    bool user1 = s.DelUser1;
    bool user2 = s.DelUser2;
    if (anyDrive) {
        const auto refuseEveryName = [&plan](bool& ticked, const std::string& text,
                                             TSettingsBox box) {
            const std::string mask = ticked ? EveryNameMask(text) : std::string();
            if (mask.empty())
                return;
            plan.steps.push_back(
                refusal(runtime::formatMessage("'%s' would take every file", mask), box));
            ticked = false;
        };
        refuseEveryName(user1, s.User1, TSettingsBox::User1);
        refuseEveryName(user2, s.User2, TSettingsBox::User2);
    }

    std::string masks;
    const auto add = [&masks](const std::string& mask) {
        masks += masks.empty() ? mask : ", " + mask;
    };
    if (s.DelBAK)
        add("*.bak");
    if (s.DelCHK)
        add("*.chk");
    if (s.DelTMP)
        add("*.tmp");
    if (user1)
        add(s.User1);
    if (user2)
        add(s.User2);
    if (!s.DelBAK && !s.DelTMP && !user1 && !user2 && !s.DelCHK)
        return plan;
    for (std::size_t k = 0; k < s.Drives.size(); ++k) {
        if (s.Drives[k])
            plan.steps.push_back(scan("Drive " + driveOfSlot(k), masks, soSpecifiedDisk,
                                      driveOfSlot(k) + "\\", Reach::Masks));
    }
    return plan;
}
