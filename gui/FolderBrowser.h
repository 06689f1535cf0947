#pragma once
// The folder browser: a modal folder chooser with an instruction text.

#include <string>

// Runs the browser with Caption and InitialDir preselected (unless ""); true and Folder set when confirmed.
bool BrowseForFolder(const std::string& Caption, const std::string& InitialDir, std::string& Folder);
