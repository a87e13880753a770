// The frames queue on Dispatch and the sample buffers the stream delivers on
// it, read and marked through CoreMedia and CoreFoundation.

#include "MacShareSupport.h"

namespace velto::shareview::macos {

MacSerialQueue::MacSerialQueue(const std::string& label)
    : label_(label), queue_(dispatch_queue_create(label.c_str(), DISPATCH_QUEUE_SERIAL)) {}

void MacSerialQueue::async(std::function<void()> work) {
    dispatch_async(queue_, ^{
        work();
    });
}

MacSampleBuffer::MacSampleBuffer(CMSampleBufferRef buffer)
    : buffer_((CMSampleBufferRef)CFRetain(buffer)) {}

MacSampleBuffer::~MacSampleBuffer() { CFRelease(buffer_); }

bool MacSampleBuffer::isValid() const { return CMSampleBufferIsValid(buffer_); }

std::optional<std::int64_t> MacSampleBuffer::frameStatus() const {
    CFArrayRef attachments = CMSampleBufferGetSampleAttachmentsArray(buffer_, false);
    if (!attachments || CFArrayGetCount(attachments) == 0) return std::nullopt;
    CFTypeRef first = CFArrayGetValueAtIndex(attachments, 0);
    if (!first || CFGetTypeID(first) != CFDictionaryGetTypeID()) return std::nullopt;
    CFTypeRef status = CFDictionaryGetValue((CFDictionaryRef)first, (__bridge CFStringRef)SCStreamFrameInfoStatus);
    // A boolean or a floating-point number is not a status.
    if (!status || CFGetTypeID(status) != CFNumberGetTypeID() || CFNumberIsFloatType((CFNumberRef)status))
        return std::nullopt;
    std::int64_t value = 0;
    if (!CFNumberGetValue((CFNumberRef)status, kCFNumberSInt64Type, &value)) return std::nullopt;
    return value;
}

void MacSampleBuffer::markDisplayImmediately() {
    CFArrayRef attachments = CMSampleBufferGetSampleAttachmentsArray(buffer_, true);
    if (!attachments || CFArrayGetCount(attachments) == 0) return;
    auto first = (CFMutableDictionaryRef)CFArrayGetValueAtIndex(attachments, 0);
    if (first) CFDictionarySetValue(first, kCMSampleAttachmentKey_DisplayImmediately, kCFBooleanTrue);
}

}  // namespace velto::shareview::macos
