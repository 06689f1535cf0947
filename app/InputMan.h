#pragma once
// The Input manager: the colour dialog and the folder browser behind the three
// input values, and the exception for bad form input.

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Types.h"

#include <memory>
#include <string>

class QWidget;
class TColorDialog;

// Bad input in a form; the constructor moves the focus to the control when it can take it.
class EInvalidFormInput : public Exception {
public:
  // Stores Message and focuses Control if it is given, visible, enabled and focusable.
  explicit EInvalidFormInput(std::string Message, QWidget* Control = nullptr);
};

// The default output directory: the current directory at start-up + "Varnex Output".
const std::string& DefaultOutputDir();

// Runs the dialogs that change the light colour, the shadow colour and the output directory.
class TInputMan : public TObject {
public:
  // Creates the one colour dialog, which keeps its custom colours while the program runs.
  TInputMan();
  // Frees the colour dialog.
  ~TInputMan() override;
  TInputMan(const TInputMan&) = delete;
  TInputMan& operator=(const TInputMan&) = delete;

  // Runs the colour dialog from Initial and returns the chosen colour; EAbort when cancelled.
  TColor PickColor(TColor Initial);
  // Runs the folder browser; a confirmed folder becomes the current directory and is returned; EAbort when cancelled.
  std::string PickDirectory(const std::string& Caption, const std::string& InitialDir);

  // The colour dialog.
  TColorDialog* ColorDialog() const;

private:
  std::unique_ptr<TColorDialog> FColorDialog;
};
