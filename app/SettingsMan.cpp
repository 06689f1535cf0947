#include "app/SettingsMan.h"

#include "app/GlyphsMan.h"
#include "app/MainFormUnit.h"
#include "app/UserFiles.h"
#include "base/SysUtils.h"
#include "gui/FileDialogs.h"
#include "support/IniFiles.h"

const std::string SettingsFileName = TUserFiles::Program().SettingsFileName;
const std::string SettingsFallbackFileName = TUserFiles::Program().SettingsFallbackFileName;

namespace {

const std::string MainFormSection = "MainForm";
const std::string SystemSection = "System";
const std::string FilesFilterKey = "GlyphsMan.FilesOpenDialog.FilterIndex";
const std::string LogFilterKey = "GlyphsMan.LogSaveDialog.FilterIndex";
constexpr char Quote = '"';

}  // namespace

TSettingsMan::TSettingsMan(const std::string& FileName, const std::string& FallbackFileName, bool CreateFolder)
    : FFileName(FileName), FFallbackFileName(FallbackFileName), FCreateFolder(CreateFolder) {}

const std::string& TSettingsMan::FileName() const { return FFileName; }

void TSettingsMan::Load() {
  if (FileExists(FFileName)) {
    LoadFrom(FFileName);
  } else if (FileExists(FFallbackFileName)) {
    // The program folder's file is one the user may neither correct nor delete:
    // when it cannot be read, or read through, the program starts all the same,
    // with what it held up to the fault.
    try {
      LoadFrom(FFallbackFileName);
    } catch (const Exception&) {
    }
  }
}

void TSettingsMan::LoadFrom(const std::string& Source) {
  TMainForm& form = *MainForm;
  TGlyphsMan& glyphs = *form.GlyphsMan();
  // A file that exists but cannot be read fails here with the file layer's own
  // message, which names the cause better than a general one would.
  TVarIniFile ini(Source);
  try {
    // Each value is applied as soon as it is read, so the values before a
    // malformed key stay applied.
    // Without a stored position the window system places the window.
    if (ini.ValueExists(MainFormSection, "Left")) form.SetLeft(ini.ReadInteger(MainFormSection, "Left", form.Left()));
    if (ini.ValueExists(MainFormSection, "Top")) form.SetTop(ini.ReadInteger(MainFormSection, "Top", form.Top()));
    TOpenDialog& files = *glyphs.FilesOpenDialog();
    files.SetFilterIndex(ini.ReadInteger(MainFormSection, FilesFilterKey, files.FilterIndex()));
    TSaveDialog& log = *glyphs.LogSaveDialog();
    log.SetFilterIndex(ini.ReadInteger(MainFormSection, LogFilterKey, log.FilterIndex()));
    form.SetLightColor(static_cast<TColor>(
        ini.ReadInteger(MainFormSection, "LightColor", static_cast<int>(form.GetLightColor()))));
    form.SetShadowColor(static_cast<TColor>(
        ini.ReadInteger(MainFormSection, "ShadowColor", static_cast<int>(form.GetShadowColor()))));
    form.SetOutputDir(ini.ReadQuotedString(MainFormSection, "OutputDir", Quote, form.GetOutputDir()));
    // A directory that no longer exists leaves the current one as it is.
    SetCurrentDir(ini.ReadQuotedString(SystemSection, "CurrentDir", Quote, GetCurrentDir()));
  } catch (const EIniFileException&) {
    throw ESettingsManError(SettingsLoadError);
  }
}

void TSettingsMan::Save() {
  TMainForm& form = *MainForm;
  TGlyphsMan& glyphs = *form.GlyphsMan();
  try {
    // A failure here shows when the file cannot be written in the missing folder.
    if (FCreateFolder) ForceDirectories(ExtractFileDir(FFileName), UserFilesFolderMode);
    TVarIniFile ini(FFileName);
    // Where the window system cannot tell the window's position, the stored one
    // is kept as it was, so that a session there does not lose it.
    const bool known = form.PositionKnown();
    const std::string left = known ? std::to_string(form.Left()) : ini.ReadString(MainFormSection, "Left", "");
    const std::string top = known ? std::to_string(form.Top()) : ini.ReadString(MainFormSection, "Top", "");
    ini.Clear();
    if (!left.empty()) ini.WriteString(MainFormSection, "Left", left);
    if (!top.empty()) ini.WriteString(MainFormSection, "Top", top);
    ini.WriteInteger(MainFormSection, FilesFilterKey, glyphs.FilesOpenDialog()->FilterIndex());
    ini.WriteInteger(MainFormSection, LogFilterKey, glyphs.LogSaveDialog()->FilterIndex());
    ini.WriteInteger(MainFormSection, "LightColor", static_cast<int>(form.GetLightColor()));
    ini.WriteInteger(MainFormSection, "ShadowColor", static_cast<int>(form.GetShadowColor()));
    ini.WriteQuotedString(MainFormSection, "OutputDir", Quote, form.GetOutputDir());
    ini.WriteQuotedString(SystemSection, "CurrentDir", Quote, GetCurrentDir());
    ini.UpdateFile();
  } catch (const EIniFileException&) {
    throw ESettingsManError(SettingsSaveError);
  } catch (const EStreamError&) {
    // An unreadable old file or a folder that cannot take the new one: the user
    // is told in the same words, and the window stays open to try again.
    throw ESettingsManError(SettingsSaveError);
  }
}
