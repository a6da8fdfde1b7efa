#include "app/MainForm.h"

#include "runtime/Application.h"
#include "runtime/Errors.h"
#include "runtime/IniFile.h"

#include <QSignalBlocker>
#include <algorithm>
#include <exception>
#include <iostream>
#include <string_view>

namespace {

// A key of vorlax.ini that is one control's state and nothing more: a box, ticked when the
// key holds 1, or a text.
struct PlainKey
{
    const char* section;
    const char* ident;
    QAbstractButton* box = nullptr;
    bool* ticked = nullptr;
    // What a missing key of a box reads as; a missing text is empty.
    int defaultValue = 0;
    QLineEdit* edit = nullptr;
    std::string* text = nullptr;
};

PlainKey tick(const char* section, const char* ident, int defaultValue, QAbstractButton* box,
              bool& ticked)
{
    return {section, ident, box, &ticked, defaultValue};
}

PlainKey text(const char* section, const char* ident, QLineEdit* edit, std::string& text)
{
    return {section, ident, nullptr, nullptr, 0, edit, &text};
}

// The keys read, kept and written as they are, in the order the file holds them, each with
// its control and its place in v.
std::array<PlainKey, 17> plainKeys(const TForm1& form, TSettingsValues& v)
{
    return {{
        tick("Drives", "Drive0", 0, form.CheckBox10, v.Drives[0]),
        tick("Drives", "Drive1", 0, form.CheckBox11, v.Drives[1]),
        tick("Drives", "Drive2", 0, form.CheckBox12, v.Drives[2]),
        tick("Drives", "Drive3", 0, form.CheckBox13, v.Drives[3]),
        tick("Actions", "RunScanDisk", 1, form.CheckBox3, v.RunScanDisk),
        tick("Actions", "DelCHK", 1, form.CheckBox4, v.DelCHK),
        tick("Actions", "DelTempFiles", 1, form.CheckBox1, v.DelTempFiles),
        tick("Actions", "DelBAK", 1, form.CheckBox6, v.DelBAK),
        tick("Actions", "DelTMP", 1, form.CheckBox7, v.DelTMP),
        tick("Actions", "DelUser1", 0, form.CheckBox8, v.DelUser1),
        tick("Actions", "DelUser2", 0, form.CheckBox9, v.DelUser2),
        text("User", "User1", form.Edit2, v.User1),
        text("User", "User2", form.Edit3, v.User2),
        tick("Actions", "Frequency1", 0, form.RadioButton1, v.Frequency[0]),
        tick("Actions", "Frequency2", 0, form.RadioButton2, v.Frequency[1]),
        tick("Actions", "Frequency3", 0, form.RadioButton3, v.Frequency[2]),
        tick("Actions", "Frequency4", 0, form.RadioButton4, v.Frequency[3]),
    }};
}

int flag(bool value)
{
    return value ? 1 : 0;
}

} // namespace

void TForm1::setEditText(QLineEdit* edit, const std::string& text)
{
    edit->setText(QString::fromStdString(text));
    m_loadedTexts[edit] = text;
}

std::string TForm1::editText(const QLineEdit* edit) const
{
    // Bytes that are no UTF-8 cannot be shown as they are; unless the user changed the
    // text, give back what was loaded rather than the replacement characters.
    const auto loaded = m_loadedTexts.find(edit);
    if (loaded != m_loadedTexts.end() && edit->text() == QString::fromStdString(loaded->second))
        return loaded->second;
    return edit->text().toStdString();
}

void TForm1::LoadSettings()
{
    runtime::setDateConventions('/', "yyyy/mm/dd");
    runtime::MemIniFile ini(SettingsFile);
    // Gone since it was looked for: still not a file of defaults.
    if (!ini.exists())
        throw runtime::IniFileError(runtime::formatMessage("Unable to read %s", SettingsFile));
    const auto drives = driveBoxes();
    for (const PlainKey& key : plainKeys(*this, m_values)) {
        if (key.edit) {
            setEditText(key.edit, ini.readString(key.section, key.ident, ""));
            continue;
        }
        // A hidden drive box stands for no fixed disk: it keeps its tick.
        if (std::ranges::find(drives, key.box) != drives.end() && key.box->isHidden())
            continue;
        key.box->setChecked(ini.readInteger(key.section, key.ident, key.defaultValue) == 1);
    }
    setEditText(Edit4, ini.readString("Actions", "Cache", ""));
    CheckBox5->setChecked(!isBlank(editText(Edit4)) &&
                          ini.readInteger("Actions", "DelCache", 1) == 1);
    // The handler runs as for a click. Its error is shown once every key is read: a load
    // cut short would leave window defaults in place of the user's keys, to be saved.
    std::exception_ptr autostartError;
    const bool autoStart = ini.readInteger("Actions", "AutoStart", 1) == 1;
    if (CheckBox2->isChecked() != autoStart) {
        const QSignalBlocker blocker(CheckBox2);
        CheckBox2->setChecked(autoStart);
        try {
            CheckBox2Click(this);
        } catch (...) {
            autostartError = std::current_exception();
        }
    }

    std::string dateText = ini.readString("NextDate", "Date", "");
    captureSettings();
    allowSave();
    if (dateText.empty())
        dateText = runtime::dateToStr(runtime::today());
    try {
        NextRunDate = runtime::strToDate(dateText);
    } catch (...) {
        if (autostartError)
            runtime::handleException(autostartError);
        throw;
    }
    if (runtime::today() > NextRunDate)
        NextRunDate = runtime::today() + 1;
    if (autostartError)
        std::rethrow_exception(autostartError);
}

void TForm1::allowSave()
{
    m_saveAllowed = true;
    // The toolkit ends the process itself when the display goes away (a log-out): save
    // then from what the window last held.
    runtime::setExitHook([this] {
        try {
            writeSettings();
        } catch (const std::exception& error) {
            std::cerr << error.what() << std::endl;
        }
    });
}

void TForm1::SaveSettings()
{
    captureSettings();
    writeSettings();
}

void TForm1::captureSettings()
{
    m_values = boxSettings();
}

void TForm1::writeSettings()
{
    runtime::setDateConventions('/', "yyyy/mm/dd");
    runtime::MemIniFile ini(SettingsFile);
    const TSettingsValues& v = m_values;
    const auto keys = plainKeys(*this, m_values);
    auto next = keys.begin();
    const auto writeUpTo = [&](std::string_view ident) {
        for (; next != keys.end() && next->ident != ident; ++next) {
            if (next->text)
                ini.writeString(next->section, next->ident, *next->text);
            else
                ini.writeInteger(next->section, next->ident, flag(*next->ticked));
        }
    };
    // Each key written out stands where it always stood among the table's.
    writeUpTo("DelBAK");
    ini.writeInteger("Actions", "DelCache", flag(v.DelCache));
    writeUpTo("User1");
    ini.writeString("Actions", "Cache", v.Cache);
    writeUpTo("Frequency1");
    ini.writeInteger("Actions", "AutoStart", flag(v.AutoStart));
    writeUpTo({});

    const runtime::TDate today = runtime::today();
    if (today >= NextRunDate && Collected) {
        const int intervals[] = {1, 3, 7, 30};
        for (std::size_t k = 0; k < v.Frequency.size(); ++k) {
            if (v.Frequency[k])
                NextRunDate = today + intervals[k];
        }
    }
    // A run of the timer may have moved the date on since this window read it, and an old
    // date would have the collection run again: a save keeps the later of the two.
    ini.writeMerged("NextDate", "Date", runtime::dateToStr(NextRunDate),
                    [this](const std::optional<std::string>& current, const std::string& value) {
                        if (!current)
                            return value;
                        try {
                            const runtime::TDate onDisk = runtime::strToDate(*current);
                            if (onDisk > NextRunDate) {
                                NextRunDate = onDisk;
                                return *current;
                            }
                        } catch (const runtime::Exception&) {
                        }
                        return value;
                    });
    ini.updateFile();
}

TSettingsValues TForm1::boxSettings() const
{
    TSettingsValues settings;
    for (const PlainKey& key : plainKeys(*this, settings)) {
        if (key.edit)
            *key.text = editText(key.edit);
        else
            *key.ticked = key.box->isChecked();
    }
    settings.DelCache = CheckBox5->isChecked();
    settings.Cache = editText(Edit4);
    settings.AutoStart = CheckBox2->isChecked();
    return settings;
}

TCollectionSettings TForm1::collectionSettings() const
{
    // A hidden box stands for no fixed disk: it is saved as ticked but never searched.
    TCollectionSettings settings = boxSettings();
    const auto boxes = driveBoxes();
    for (std::size_t k = 0; k < boxes.size(); ++k)
        settings.Drives[k] = settings.Drives[k] && !boxes[k]->isHidden();
    return settings;
}
