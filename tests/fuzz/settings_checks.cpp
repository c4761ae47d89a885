// The settings and counter reader over arbitrary bytes, and the writer's output read back.
#include "fuzz_checks.h"

#include "app/settings_codec.h"
#include "fuzz_input.h"

#include <cmath>

namespace corvalin::fuzz {

namespace {

// A failed read must leave the variable as it was, so every read starts from a marked value.
template <class T>
bool readField(FieldReader& reader, ReadError (FieldReader::*read)(T&), T& out, const T& marker,
               const char* field, std::string& problems) {
    T value = marker;
    if ((reader.*read)(value) == ReadError::None) {
        out = std::move(value);
        return true;
    }
    if (!(value == marker))
        problems += std::string(field) + ": a failed read changed the variable\n";
    return false;
}

// The five settings fields in the order the start-up reads them; false at the first that fails.
bool readSettings(std::string_view bytes, Module1& vars, std::string& problems) {
    FieldReader reader(bytes);
    const std::string textMarker = "\x01unread";
    std::string source, dest, maker;
    const bool read =
        readField(reader, &FieldReader::readText, source, textMarker, "source", problems) &&
        readField(reader, &FieldReader::readText, dest, textMarker, "dest", problems) &&
        readField(reader, &FieldReader::readText, maker, textMarker, "maker", problems) &&
        readField(reader, &FieldReader::readInt16, vars.RunFlag, std::int16_t(12345), "run flag", problems) &&
        readField(reader, &FieldReader::readOption, vars.OptFlags[0], OptionValue::text(textMarker), "option",
                  problems);
    vars.SourcePath = source;
    vars.DestPath = dest;
    vars.MakerPath = maker;
    return read;
}

// What the settings file keeps of `vars`: the format has no escape for a double quote, so a text
// holding one is kept as an empty text.
Module1 storable(Module1 vars) {
    const auto keep = [](const std::string& text) {
        return text.find('"') == std::string::npos ? text : std::string();
    };
    vars.SourcePath = keep(vars.SourcePath.native());
    vars.DestPath = keep(vars.DestPath.native());
    vars.MakerPath = keep(vars.MakerPath.native());
    if (vars.OptFlags[0].isText())
        vars.OptFlags[0] = OptionValue::text(keep(vars.OptFlags[0].asText()));
    return vars;
}

// What the writer makes of `written` must read back into what the file keeps of it and end the
// line there.
void checkWrittenReadsBack(const Module1& written, std::string& problems) {
    const std::string line = encodeSettings(written);
    const Module1 vars = storable(written);
    if (!line.ends_with("\r\n"))
        problems += "settings line does not end with CR LF\n";
    Module1 back;
    if (!readSettings(line, back, problems)) {
        problems += "written settings do not read back: " + line + "\n";
        return;
    }
    if (back.SourcePath != vars.SourcePath || back.DestPath != vars.DestPath ||
        back.MakerPath != vars.MakerPath)
        problems += "a folder changed on its way through the settings file\n";
    if (back.RunFlag != vars.RunFlag)
        problems += "run flag changed on its way through the settings file\n";
    if (!(back.OptFlags[0] == vars.OptFlags[0]))
        problems += "option changed on its way through the settings file: " + line + "\n";
}

void checkCounterReadsBack(std::int32_t serialNo, std::string& problems) {
    const std::string line = encodeCounter(serialNo);
    std::int32_t back = 0;
    if (FieldReader(line).readInt32(back) != ReadError::None || back != serialNo)
        problems += "counter " + std::to_string(serialNo) + " does not read back from " + line + "\n";
}

// Variables made from the input: any path bytes, any run flag, an option that is empty, a finite
// number or any text.
Module1 variablesFrom(std::string_view input) {
    InputBytes bytes(input);
    Module1 vars;
    vars.SourcePath = bytes.takeChunk();
    vars.DestPath = bytes.takeChunk();
    vars.MakerPath = bytes.takeChunk();
    vars.RunFlag = bytes.take<std::int16_t>();
    const auto kind = bytes.take<std::uint8_t>() % 3;
    if (kind == 1) {
        const auto number = bytes.take<double>();
        vars.OptFlags[0] = OptionValue::number(std::isfinite(number) ? number : bytes.take<std::int32_t>());
    } else if (kind == 2) {
        vars.OptFlags[0] = OptionValue::text(bytes.takeChunk());
    }
    vars.SerialNo = bytes.take<std::int32_t>();
    return vars;
}

} // namespace

std::string checkSettingsReader(std::string_view input) {
    std::string problems;
    Module1 read;
    // Whatever a damaged file holds, what was read and written again must read the same.
    if (readSettings(input, read, problems))
        checkWrittenReadsBack(read, problems);
    std::int32_t counter = -7;
    if (FieldReader(input).readInt32(counter) == ReadError::None)
        checkCounterReadsBack(counter, problems);
    else if (counter != -7)
        problems += "counter: a failed read changed the variable\n";

    const Module1 made = variablesFrom(input);
    checkWrittenReadsBack(made, problems);
    checkCounterReadsBack(made.SerialNo, problems);
    return problems;
}

} // namespace corvalin::fuzz
