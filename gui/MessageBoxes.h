#pragma once
// The program's message boxes and the text rule of the standard error display.
// Every box goes through the dialog seam (DialogSeam.h).

#include "gui/DialogSeam.h"

#include <string>

// Runs the one kind of message box: Kind is dkQuestion, dkError or dkInformation, Caption
// its caption. True only for Yes to a question; an error or information box returns true.
bool ShowMessageBox(TDialogKind Kind, const std::string& Caption, const std::string& Text);
// Asks Text in a question box (Yes default, warning icon, brought to the front); true only for Yes.
bool QuestionBox(const std::string& Text);
// Shows Text in an error box with an OK button.
void ErrorBox(const std::string& Text);
// Shows Text in an information box with an OK button.
void InformationBox(const std::string& Text);

// The caption of every box: the application's title, or "" when there is no application object.
std::string BoxCaption();
// Message with a full stop appended when its last character sorts after '.'.
std::string ErrorDisplayText(const std::string& Message);
