#pragma once
// link/ owns the conversation with the Тарвикс controller: the bytes of every command frame and
// the framing of the controller's 10-byte replies (this file and replybuffer.h), the link
// controller that runs one command at a time with its response timer and filler frames, and the
// sequencer that writes the whole object list to flash. It does not own the serial port (serial/
// carries the bytes), the object list (objlist/) or the payload bytes (payload/ builds them), and
// it never shows anything itself: what the operator sees goes through OperatorUi.
//
// The frame builders know nothing of the serial component: they write to a FrameSink, which the
// serial port implements and tests replace with a recorder. Every byte of a frame goes through
// its own WriteByte call and every text or payload through one WriteBytes call, so that a frame
// reaches the writer queue exactly the way the controller has always received it. Results of
// the sink are not looked at: a sink that cannot queue raises its own failure.
#include <cstdint>

namespace ormelin::proto {

enum Command : uint8_t {
    kConnectionCheck = 0x0B,
    kImageUpload = 0x31,
    kFontUpload = 0x41,
    kScriptUpload = 0x58,
    kEraseObjects = 0xD5,
    kOutputImage = 0x30,
    kOutputScript = 0x5A,
    kFontSample1 = 0x40,
    kFontSample2 = 0x3A,
    kFontSample3 = 0x49
};

inline constexpr uint8_t kLeadByte = 0xAA;
inline constexpr uint8_t kPictureKindJpeg = 7, kPictureKindPixels = 0;
inline constexpr uint8_t kFontFormatMicrochip = 3, kFontFormatMonospace = 0;

// Frame lengths before any payload; the link tests and the simulator's decoder agree on them.
inline constexpr int kConnectionCheckFrameSize = 4;
inline constexpr int kImageUploadFrameSize = 14;
inline constexpr int kFontUploadFrameSize = 12;
inline constexpr int kScriptUploadFrameSize = 9;
inline constexpr int kEraseFrameSize = 19;
inline constexpr int kOutputFrameSize = 10;
inline constexpr int kFillerFrameSize = 12;

class FrameSink
{
public:
    virtual ~FrameSink() = default;
    virtual bool WriteByte(uint8_t byte) = 0;
    virtual int32_t WriteBytes(const void *bytes, int32_t count) = 0;
};

// Numbers are sent as their low 16 bits, sizes as their low 24 bits, character sizes as their
// low 8 bits, little-endian; the callers range-check what they must before building a frame.
void sendConnectionCheck(FrameSink &sink);
// The frame only: the caller sends the payload right behind it with sendPayload.
void sendImageUpload(
    FrameSink &sink, int32_t number, int32_t width, int32_t height, uint8_t kind, int32_t size);
void sendFontUpload(FrameSink &sink, int32_t number, uint8_t format, int32_t size,
    int32_t charWidth, int32_t charHeight);
void sendScriptUpload(FrameSink &sink, int32_t number, int32_t size);
// One WriteBytes call; an empty payload queues nothing.
void sendPayload(FrameSink &sink, const uint8_t *bytes, int32_t size);
// Throws ormelin::Failure, before anything is written, if the text cannot be encoded.
void sendEraseObjects(FrameSink &sink);
void sendOutputImage(FrameSink &sink, int32_t number);
void sendOutputScript(FrameSink &sink, int32_t number);
// The three frames back to back; the text is "Шрифт номер " + number in decimal (the whole
// number, while frame 1 carries its low 16 bits). Throws like sendEraseObjects.
void sendFontSample(FrameSink &sink, int32_t number);
void sendFiller(FrameSink &sink);

} // namespace ormelin::proto
