#pragma once
// The main window's controls as its painting and its tests know them (Windows only).
#include "platform/win32.hpp"

#include <string>

namespace connector {

enum ControlId : int {
  kPathEdit = 100,
  kChooseFileButton = 101,
  kRestoreDetectionButton = 102,
  kSavePathButton = 103,
  kToggleButton = 104,
  kTitleLabel = 200,
  kExplanationLabel = 201,
  kStatusLabel = 202,
  kPathLabel = 203,
};

// A window's text, whatever its length.
std::wstring windowText(HWND window);

}  // namespace connector
