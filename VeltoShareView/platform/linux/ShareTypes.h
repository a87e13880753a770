#pragma once
// The share view's platform types as the X11 code names them. That code lives
// outside velto::shareview because the interface's Window and Display would
// hide Xlib's.

#include "SharePlatform.h"

namespace velto::x11 {

using shareview::CaptureCompletion;
using shareview::CaptureError;
using shareview::CaptureStream;
using shareview::ContentFilter;
using shareview::RunningApplication;
using shareview::SampleBuffer;
using shareview::SerialQueue;
using shareview::ShareableContent;
using shareview::ShareableContentResult;
using shareview::StreamConfiguration;
using shareview::StreamDelegate;
using shareview::StreamOutput;
using shareview::StreamOutputType;

}  // namespace velto::x11
