// The stored form of a scripting descriptor: JSON that hosts write when they record a run and
// read back to replay it.
//
// Version 1, an object with exactly two members:
//
//   {
//     "version": 1,
//     "items": [
//       {"key": "FilM", "type": "enum", "enumType": "rB22", "value": 3},
//       {"key": "Amnt", "type": "integer", "value": -12},
//       {"key": "Rads", "type": "float", "value": 1.5},
//       {"key": "Invr", "type": "boolean", "value": true},
//       {"key": "Path", "type": "text", "value": "/tmp/out.tsv"}
//     ]
//   }
//
// - Items keep their order; each key appears at most once.
// - "key" and "enumType" are four-character codes: four printable ASCII characters
//   (0x20-0x7E, first character the most significant byte), or "0x" and eight hexadecimal
//   digits for any other code. Writers use the four-character form whenever it is possible.
// - "integer": a whole number from -2147483648 to 2147483647.
// - "enum": "value" a whole number from 0 to 4294967295.
// - "float": a number, written with enough digits to read back the same double; the strings
//   "nan", "inf" and "-inf" stand for the values JSON cannot hold.
// - "boolean": true or false.
// - "text": a string of UTF-8 text; text that is not valid UTF-8 cannot be written.
// - Every member named above is required and no other member is accepted, so a misspelt member
//   is an error rather than a silently ignored value.
//
// Versions: a reader accepts every version up to kDescriptorJsonVersion, bringing an older one
// up to date by an explicit upgrade step, and refuses newer ones. Version 1 is the first.
#pragma once

#include <string>

#include "hostkit/descriptor.h"

namespace hostkit {

constexpr int kDescriptorJsonVersion = 1;

// Writes `descriptor` as JSON (two-space indented, ending in a newline) into *json. Returns
// false with a one-line *message when it cannot be written (text that is not UTF-8).
bool DescriptorToJson(const Descriptor& descriptor, std::string* json, std::string* message);

// Parses JSON of the form above into *out. Returns false with a one-line *message naming the
// fault (and the item, for a fault inside one), leaving *out empty. Never throws.
bool DescriptorFromJson(const std::string& json, Descriptor* out, std::string* message);

}  // namespace hostkit
