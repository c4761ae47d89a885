#pragma once

namespace corvalin {

// The options dialog's two strip-mode check boxes, as the main window's layout reads them.
class StripModeBoxes {
public:
    virtual ~StripModeBoxes() = default;
    virtual bool isCheck3Ticked() const = 0;
    virtual bool isCheck4Ticked() const = 0;
};

} // namespace corvalin
