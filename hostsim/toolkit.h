// The stand-in host's toolkit-services record (host_vector slot 82): the
// name/value store, the log object with its catalogue of numbered messages,
// the case service, system information, the transcoder and the clock-seed
// record, with recorders that tests inspect.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "matchmod/xkservices.h"

namespace hostsim {

struct Host;

// One entry of the name/value store; type 0 is an entry that is set but
// holds no value yet.
struct NvEntry {
    int32_t type = 0;
    double d = 0;
    int64_t i = 0;
    std::u16string text;
};

// A line printed through the log object (word 5).
struct TkPrint {
    int32_t level;
    std::string text;
};

// A numbered message issued through the log object (word 7).
struct TkMessage {
    int32_t level;
    uint32_t code;
    std::string text;
};

struct Toolkit {
    XkServices services{};
    XkLog log{};
    XkCaseService casemap{};
    XkConverter converter{};
    XkTranscoder transcoder{};
    XkHostRecord record{};
    alignas(16) uint8_t processor[128]{};     // the processor record of class 0x10
    Host* host = nullptr;

    // The store, keyed by the upper-cased name.
    std::map<std::u16string, NvEntry> store;
    std::map<std::u16string, uint32_t> fail_get;   // name -> status every get answers
    std::map<std::u16string, uint32_t> fail_set;   // name -> status every set answers
    // Status the log object answers for a message code (default 0).
    std::map<uint32_t, uint32_t> message_result;
    int32_t print_result = 0;
    uint32_t convert_result = 0;                   // forced converter status, 0: none

    // System information.
    bool offer_processor = true;                   // +0x158 points to the record
    uint32_t processor_status = 0;                 // first field of the record; 0: valid
    int rdrand = -1;                               // -1: the real CPU's answer, else 0 or 1
    uint64_t seed_word = 0;                        // class 8 word +0x28, bumped per query
    std::function<double()> clock;                 // seconds; null: the real monotonic clock
    uint64_t sysinfo_calls = 0;

    // Recorders.
    std::vector<TkPrint> prints;
    std::vector<TkMessage> messages;
    std::vector<std::string> writes;               // texts formatted through word 4
    std::vector<std::string> store_calls;          // "get NAME type" / "set NAME type"

    // Store helpers for tests (names and texts are ASCII).
    void set_text(const std::string& name, const std::string& value);
    void set_int(const std::string& name, int64_t value);
    void set_double(const std::string& name, double value);
    void declare(const std::string& name);         // set, without a value
    void erase(const std::string& name);
    const NvEntry* find(const std::string& name) const;
    bool real_rdrand() const;

    // Catalogue text (a format in the log object's conventions) of a code.
    static const char* message_format(uint32_t code);
};

// Build the record for a host; the host points host_vector slot 82 at
// its services.
void toolkit_init(Toolkit& tk, Host& h);

// Format as the log object does: UTF-16 format, the host's conversions.
std::u16string format16(const std::u16string& format, va_list args);
std::u16string to_u16(const std::string& s);
std::string to_utf8(const std::u16string& s);

}  // namespace hostsim
