// The two forms of a readings log. CSV as RFC 4180 has it (a header line naming the columns,
// each line ended by CR LF), whose columns carry their units in their names:
//   time_utc,elapsed_s,result,rtt_ms,port_b,RB0,...,RB7,RA0,RA1,RA2,RA3,RA5_degC,retries,
//   late_replies
// with only the analogue pins asked for, in that order. JSON Lines: one object per sample with
// the same names, null where a CSV field is empty. No field ever needs quoting.
//
//   time_utc   the sample's slot in UTC with milliseconds: in CSV "2026-12-09 13:20:05.123",
//              which spreadsheets import as a date and time (a zone after it makes LibreOffice
//              keep it as text), the zone said by the column's name; in JSON ISO 8601 with Z
//   elapsed_s  seconds since the first sample, three decimals, on the monotonic clock
//   result     ok, no-reply, late, wrong-size:N (the datagram's size), not-sent or not-written
//   rtt_ms     the status request's round trip in milliseconds, three decimals
//   port_b     the status reply's port B byte in decimal; RB0..RB7 its bits, 0 or 1
//   RA0..RA3   raw conversion results in decimal; RA5_degC degrees Celsius, one decimal
//   retries    requests of the sample sent again; late_replies replies that came too late
// A value that did not come is an empty field (null): never a value from an earlier sample.
#pragma once

#include <string>
#include <string_view>

#include "readings/sample.h"

namespace vardek::readings {

// The header line, its CR LF included.
std::string csvHeader(const Pins& pins);
// One sample's line, its CR LF included.
std::string csvRow(const Sample& sample, const Pins& pins);
// One sample's JSON object and its newline.
std::string jsonLine(const Sample& sample, const Pins& pins);
// How every line of jsonLine begins: what tells a JSON Lines log from another file.
inline constexpr std::string_view kJsonLineStart = "{\"time_utc\":";

// A JSON string holding `text`, for every JSON line the programs write. Our own texts hold no
// quote, backslash or control character; they are escaped all the same, so the output stays
// valid JSON whatever a later text (a serial, a station's name) holds.
std::string jsonString(std::string_view text);

}  // namespace vardek::readings
