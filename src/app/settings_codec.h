#pragma once

#include "app/module1.h"

#include <cstdint>
#include <string>
#include <string_view>

// The byte format of the settings file (one line: "source","dest","maker",runflag,option CR LF) and
// the counter file (one number CR LF). Text fields are quoted without escaping; numbers are bare.
namespace corvalin {

std::string encodeSettings(const Module1& vars);
std::string encodeCounter(std::int32_t serialNo);

enum class ReadError {
    None,
    EndOfFile,    // the file ended before every field was read
    TypeMismatch, // a field that cannot become the variable's type
    Overflow,     // a number outside the variable's range
};

// Reads the fields of either file one after another, as the writer produced them: fields end at a
// comma or a line end (CR, LF or CR LF); a field starting with a double quote runs to the next one
// and is text; an unquoted field is trimmed of blanks and is a number when it reads as one
// ([+-]digits[.digits][E[+-]digits]). Integers are rounded half to even; an empty field reads as 0
// into an integer and as empty into an option. A read that fails leaves `out` unchanged; after
// EndOfFile or a failed read the reader is not meant to be used further.
class FieldReader {
public:
    explicit FieldReader(std::string_view bytes) : m_bytes(bytes) {}

    ReadError readText(std::string& out);
    ReadError readInt16(std::int16_t& out);
    ReadError readInt32(std::int32_t& out);
    ReadError readOption(OptionValue& out); // number, text or empty, as it stands

private:
    struct Field {
        bool quoted = false;
        std::string text;
    };
    ReadError nextField(Field& out);
    ReadError readInteger(double low, double high, double& out);

    void skipBlanks();
    void skipPastTerminator();

    std::string_view m_bytes;
    std::size_t m_pos = 0;
    bool m_afterComma = false; // a comma promises one more field, even an empty one at the end
};

} // namespace corvalin
