#pragma once
// The open-file and save-file dialogs, with filter strings in the form
// "Name (*.ext)|*.ext|All files|*" and a 1-based filter index.

#include "base/Classes.h"
#include "base/Types.h"
#include "gui/DialogSeam.h"

#include <cstdint>
#include <string>

// Options of the file dialogs.
enum TOpenOption : std::uint32_t {
  ofHideReadOnly = 1u << 0,
  ofEnableSizing = 1u << 1,
  ofAllowMultiSelect = 1u << 2,
  ofOverwritePrompt = 1u << 3,
  ofFileMustExist = 1u << 4,
};
// A set of TOpenOption values.
using TOpenOptions = std::uint32_t;

// The open-file dialog.
class TOpenDialog : public TObject {
public:
  // A dialog with no title, no filter, filter index 1 and no options.
  TOpenDialog() = default;

  // The window title.
  const std::string& Title() const;
  // Sets the window title.
  void SetTitle(const std::string& Value);
  // The filter string: pairs of name and patterns separated by '|'; patterns by ';'.
  const std::string& Filter() const;
  // Sets the filter string.
  void SetFilter(const std::string& Value);
  // The 1-based position of the selected filter.
  int FilterIndex() const;
  // Sets the filter index; a value outside the filters selects the first when the dialog opens.
  void SetFilterIndex(int Value);
  // The extension added to a chosen name that has none ("" adds nothing).
  const std::string& DefaultExt() const;
  // Sets the default extension, without a dot.
  void SetDefaultExt(const std::string& Value);
  // The name field: proposed before Execute, the (first) chosen path after it.
  const std::string& FileName() const;
  // Sets the name field.
  void SetFileName(const std::string& Value);
  // The folder the dialog starts in ("" for the current directory).
  const std::string& InitialDir() const;
  // Sets the starting folder.
  void SetInitialDir(const std::string& Value);
  // The options.
  TOpenOptions Options() const;
  // Sets the options.
  void SetOptions(TOpenOptions Value);
  // The chosen files as full paths, in the dialog's order.
  const TStringList& Files() const;
  // Empties the list of chosen files.
  void ClearFiles();

  // Runs the dialog modally; true when the user confirmed a choice, whose folder
  // then becomes the current directory.
  virtual bool Execute();

protected:
  // Opens the dialog once through the seam, proposing FileName with filter FilterIndex.
  TDialogAnswer RunOnce(TDialogKind Kind, const std::string& FileName, int FilterIndex);
  // Takes a confirmed answer: files, name field, filter index and current directory.
  void Apply(const TDialogAnswer& Answer);

private:
  std::string FTitle;
  std::string FFilter;
  int FFilterIndex = 1;
  std::string FDefaultExt;
  std::string FFileName;
  std::string FInitialDir;
  TOpenOptions FOptions = 0;
  TStringList FFiles;
};

// The save-file dialog: adds the default extension and asks before replacing a file.
class TSaveDialog : public TOpenDialog {
public:
  // Runs the dialog; with ofOverwritePrompt an existing choice is confirmed first, No reopens it.
  bool Execute() override;
};

// The Qt name filters ("Name (patterns)") of a filter string, in order.
TStringList QtNameFilters(const std::string& Filter);
// Path with "." + DefaultExt appended when its file name has no extension.
std::string AddDefaultExt(const std::string& Path, const std::string& DefaultExt);
