#include "fuzz_checks.h"

namespace corvalin::fuzz {

const std::vector<Target>& allTargets() {
    static const std::vector<Target> targets = {
        {"settings",
         checkSettingsReader,
         {"\"", ",", "\r\n", "\r", "\n", " ", "\t", "-", "+", ".", "E", "e", "1", "0", "32767", "2147483648",
          "1e999", std::string(1, '\0')}},
        {"leading_number",
         checkLeadingNumber,
         {"-", "+", ".", "e", "E", "e-", " ", "\t", "9", "0", "\xEF\xBC\x91", "\xEF\xBC\x8E", "\xEF\xBD\x85",
          "\xEF\xBC\x8D", "\xE3\x80\x80", "\xEF", "\xEF\xBC", "e400", "e-400"}},
        {"strip",
         checkStripRule,
         {" ", "000042 ", "\xE3\x81\x82", "\xF0\xA0\x80\x8B", "\x82\xA0", "\xFF", ".jpg", "\xE3",
          std::string(1, '\0')}},
        {"serial_name",
         checkSerialName,
         {" ", "000042 ", ".jpg", ".JPEG", "bmp", "\xE3\x81\x82", "\x82\xA0", "\xFF", "\x3F\x42\x0F\x00",
          "\x40\x42\x0F\x00", "\xFF\xFF\xFF\xFF", "\x00\x00\x00\x80"}},
        {"journal",
         checkJournalReader,
         {"\t",
          "\n",
          "%",
          "%FF",
          "%0A",
          "corvalin-journal\t1\t",
          "start\t",
          "move\t",
          "rename\t",
          "trash\t",
          "delete\t",
          "mkdir\t",
          "end\t",
          "undo-start\t",
          "undo-step\t",
          "undo-end\t",
          "completed",
          "folder",
          "file",
          "/",
          "2024-05-01T14:22:33+0900",
          ".000000000",
          "\xE3\x81\x82",
          "\xC2\x85",
          "\xFF",
          std::string(1, '\0')}},
    };
    return targets;
}

const Target* findTarget(std::string_view name) {
    for (const Target& target : allTargets()) {
        if (name == target.name)
            return &target;
    }
    return nullptr;
}

} // namespace corvalin::fuzz
