#pragma once

#include "app/message_box.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace corvalin {

// Answers message boxes from a script and remembers what was shown.
class ScriptedMessageBox : public MessageBox {
public:
    struct Shown {
        std::string text;
        MessageButtons buttons;
        MessageIcon icon;
    };

    // The next answers, in order; when they run out every box is answered Cancel (or Ok).
    std::deque<MessageAnswer> answers;
    // Runs before each answer is given (e.g. to "insert the medium" before a Retry).
    std::function<void(const Shown&)> onShow;
    std::vector<Shown> shown;

    MessageAnswer show(const std::string& text, MessageButtons buttons, MessageIcon icon) override {
        shown.push_back({text, buttons, icon});
        if (onShow)
            onShow(shown.back());
        if (!answers.empty()) {
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
};

} // namespace corvalin
