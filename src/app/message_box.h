#pragma once

#include <string>

// Every message the program shows goes through this, so tests can answer them. The window's
// implementation shows a modal message box titled "Corvalin".
namespace corvalin {

enum class MessageButtons { Ok, YesNo, YesNoCancel, RetryCancel };
enum class MessageIcon { None, Information, Warning };
enum class MessageAnswer { Ok, Yes, No, Cancel, Retry };

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // `text` is UTF-8.
    virtual MessageAnswer show(const std::string& text, MessageButtons buttons, MessageIcon icon) = 0;
};

} // namespace corvalin
