#pragma once
// Pieces shared by the Objective-C++ files of the launcher's macOS layer.
// Included only from .mm files compiled with ARC.

#import <AppKit/AppKit.h>

#include "LauncherPlatform.h"

#include <memory>
#include <string>

namespace velto::launcher::macos {

NSString* toNSString(const std::string& text);

// MacStatusItem.mm
std::shared_ptr<StatusItem> makeMacStatusItem();

}  // namespace velto::launcher::macos
