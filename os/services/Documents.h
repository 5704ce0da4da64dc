#pragma once
// The documents folder: where the save file lives.
#include <string>

// The stored documents folder, ending in '/'. Until the entry point stores one, the default
// below is stored on first use.
char const* documentsPath();

// Stores the documents folder ('/' appended when missing). Call before other threads read it.
void setDocumentsPath(std::string path);

// ZELV_DOCUMENTS_DIR when set, else $XDG_DATA_HOME/zelv/, else ~/.local/share/zelv/; ends in '/'.
std::string defaultDocumentsPath();
