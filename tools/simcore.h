#pragma once
// tools/ holds tarviks-sim, the project's stand-in for the Тарвикс controller: a program on a
// pseudo-terminal that the tests, the benchmarks and the demo talk to instead of hardware. It is
// written as independent hardware would be: it shares no code with link/, so a test against it
// checks the program's frames rather than agreeing with itself. This file is its core, free of
// any I/O: the frame decoder, the 1,320-slot object table and the replies. tarviks_sim.cpp adds
// the pseudo-terminal, the line pacing, the reply knobs, the log and the dump.
//
// Frames the decoder knows (N = 16-bit object number, S = 24-bit size, little-endian):
//   AA AA 0B 0B                                   connection check     -> resolution reply
//   AA AA 31 N W(2) H(2) kind S 31, S bytes       image upload         -> accept / refuse
//   AA AA 41 N format S cw ch 41, S bytes         font upload          -> accept / refuse
//   AA AA 58 N S 58, S bytes                      script upload        -> accept / refuse
//   AA AA D5 "Удалить объекты" (Windows-1251) D5  erase object table   -> erased / refused
//   AA AA 30 N a(2) b(2) 30, AA AA 5A N a b 5A    output image/script  (no reply)
//   AA AA 40 N 40, AA 3A a(2) b(2) 3A, AA 49 49 text 00   font sample  (no reply)
//   AA + eleven 00                                filler               (no reply)
// Anything else is skipped one byte at a time until a frame starts again; a payload is taken
// whole, whatever its bytes. Replies are 10 bytes: FF W H 0..0 (FF FF W H 0..0 when shifted),
// FF 00 00 0..0 to accept, FF FF FF 0..0 to refuse, FF AA 0..0 erased, FF FF 0..0 not erased.
//
// Log format (tarviks-sim --log FILE): one line per event, written and flushed as it happens.
// Every line starts with <t>, CLOCK_MONOTONIC seconds with six decimals (the clock of
// std::chrono::steady_clock and QElapsedTimer); for received data it is the moment the read that
// completed the event returned. Values never contain blanks; hex is lower case, no separators.
//   <t> start port=<slave path> baud=<rate>
//   <t> frame connection-check hex=<frame>
//   <t> frame image-upload number=<N> width=<w> height=<h> kind=<k> size=<S> hex=<frame>
//   <t> frame font-upload number=<N> format=<f> size=<S> char-width=<cw> char-height=<ch>
//        hex=<frame>
//   <t> frame script-upload number=<N> size=<S> hex=<frame>
//   <t> frame erase text-ok=<1|0> result=<erased|refused|ignored> hex=<frame>
//   <t> frame output-image number=<N> arg1=<a> arg2=<b> stored=<1|0> hex=<frame>
//   <t> frame output-script number=<N> arg1=<a> arg2=<b> stored=<1|0> hex=<frame>
//   <t> frame font-sample-1 number=<N> stored=<1|0> hex=<frame>
//   <t> frame font-sample-2 arg1=<a> arg2=<b> hex=<frame>
//   <t> frame font-sample-3 text=<hex of the text> number=<decimal at its end, or -> hex=<frame>
//   <t> payload code=<31|41|58> number=<N> size=<S> crc32=<8 hex digits> result=<r>
//        r: stored | refused-number (N > 1319) | refused-protected | refused-capacity
//   <t> filler
//   <t> garbage hex=<skipped bytes>
//   <t> abandoned hex=<partial frame> payload=<received>/<size>   (only with --idle-reset)
//   <t> reply noise=<n> hex=<bytes sent, the n noise bytes first>  (when the last byte is written)
//   <t> junk hex=<bytes sent>                                      (--garbage answers)
//   <t> dropped hex=<bytes>       an answer (or the rest of it) due while no client has the port
//                                 open: like a closed serial port, nobody receives it
//   <t> open clients=<n>          a client opened the port; n clients have it open now
//   <t> close clients=<n>         a client closed it; at 0 the port is released as a serial port
//                                 is at its last close: exclusive mode off, unread input dropped
// An upload logs its frame line when the frame is complete and its payload line when the last
// payload byte has been read. A wrong erase text makes the frame count for nothing
// (result=ignored, no reply): a controller that asks for a confirmation text checks it.
//
// Dump (tarviks-sim --dump DIR): DIR/<N>.bin holds a stored object's bytes, DIR/<N>.png the
// picture of a kind-0 image upload (16-bit pixels, bits 0-4 red, 5-9 green, 10-14 blue, low byte
// first), and DIR/table.txt the table, rewritten whole (temp file and rename) on every change:
//   # number type code kind width height size crc32
//   <N> <type> <code> <kind> <width> <height> <size> <crc32>
// one line per stored object in number order: type is the object list's type index (0 JPEG,
// 1 pixels, 2 Microchip font, 3 monospace font, 4 script; -1 for a kind or format no list type
// sends), code the upload command in hex (31, 41, 58), kind the picture kind or font format (0 for
// a script), width and height the picture's or the character's (0 for a script), crc32 in hex.
// An erase removes every .bin and .png of the table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarviks {

inline constexpr int kTableSize = 1320;
inline constexpr int kReplySize = 10;

struct SimConfig
{
    uint16_t firstDimension = 320;
    uint16_t secondDimension = 240;
    bool shifted = false; // FF FF in front of the dimensions
    bool writeProtected = false; // uploads and erase refused
    std::optional<uint64_t> capacity; // flash bytes; none = unlimited
};

struct StoredObject
{
    uint8_t code = 0; // 0x31, 0x41 or 0x58
    uint8_t kind = 0; // picture kind or font format
    int width = 0; // picture width or character width
    int height = 0;
    std::vector<uint8_t> bytes;
    uint32_t crc = 0;

    int listType() const;
};

struct Event
{
    enum class Kind { Frame, Payload, Filler, Garbage, Abandoned };
    Kind kind = Kind::Frame;
    std::string name; // frame name, as in the log
    std::string line; // the log line without its timestamp
    std::vector<uint8_t> bytes; // the frame, the skipped or the abandoned bytes
    std::vector<uint8_t> reply; // the answer; empty when none is due
    bool completesCommand = false; // a frame without payload, a payload, a filler
    int stored = -1; // object number stored by this event
    // The object as stored: it stays valid even if a later frame of the same batch replaces or
    // erases it, so the dump can be written after the whole batch has been decoded.
    std::shared_ptr<const StoredObject> object;
    bool tableCleared = false;
};

class Simulator
{
public:
    explicit Simulator(SimConfig config = {});

    // Decodes the bytes that follow those fed so far and returns what they completed, in order.
    // Skipped bytes come out as Garbage events, merged within one call.
    std::vector<Event> feed(const uint8_t *bytes, std::size_t count);
    // True while a frame or a payload has begun but is not complete.
    bool midFrame() const { return !m_pending.empty() || m_payloadActive; }
    // Forgets a partial frame or payload (the sender has gone away); nothing when none.
    std::optional<Event> abandonPartial();

    // The stored object, or null when the slot is empty or the number is out of range.
    const StoredObject *object(int number) const;
    uint64_t storedBytes() const { return m_storedBytes; }
    int objectCount() const;
    std::string tableText() const;

private:
    struct Upload
    {
        uint8_t code = 0;
        int number = 0;
        uint8_t kind = 0;
        int width = 0;
        int height = 0;
        uint32_t size = 0;
        std::vector<uint8_t> bytes;
    };

    void drainPending(std::vector<Event> &out);
    void takePayload(const uint8_t *&bytes, std::size_t &count, std::vector<Event> &out);
    void flushGarbage(std::vector<Event> &out);
    Event decodeFrame(const std::vector<uint8_t> &frame);
    Event finishUpload();

    SimConfig m_config;
    std::array<std::shared_ptr<const StoredObject>, kTableSize> m_table;
    uint64_t m_storedBytes = 0;
    std::vector<uint8_t> m_pending; // bytes of a frame being recognised
    std::vector<uint8_t> m_garbage; // skipped bytes not yet reported
    bool m_payloadActive = false;
    Upload m_upload;
};

uint32_t crc32(const uint8_t *bytes, std::size_t count);
std::string hexText(const uint8_t *bytes, std::size_t count);
inline std::string hexText(const std::vector<uint8_t> &bytes)
{
    return hexText(bytes.data(), bytes.size());
}
// 16-bit pixels to 8-bit R, G, B per pixel, rows top to bottom; empty unless the payload holds
// exactly width * height pixels.
std::vector<uint8_t> pixelsToRgb(const std::vector<uint8_t> &payload, int width, int height);

} // namespace tarviks
