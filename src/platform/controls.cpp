#include "platform/controls.h"

#include "platform/dde_client.h"
#include "platform/runtime_error.h"

namespace platform {

Control::Control(ControlKind kind, std::string name, int index)
    : kind_(kind), name_(std::move(name)), index_(index) {}

void Control::Notify(Property property) {
    if (peer_) peer_->Changed(*this, property);
}

void Control::SetCaption(const std::string& caption) {
    caption_ = caption;
    Notify(Property::Caption);
}

void Control::SetVisible(bool visible) {
    visible_ = visible;
    Notify(Property::Visible);
}

void Control::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Notify(Property::Enabled);
}

void Control::Refresh() {
    if (peer_) peer_->Refresh();
}

void Control::Place(Control* container, int left, int top, int width, int height, int tabIndex) {
    container_ = container;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    tabIndex_ = tabIndex;
}

void ProgressBar::SetMax(int max) {
    max_ = max < 1 ? 1 : max;
    if (value_ > max_) value_ = max_;
    Notify(Property::Value);
}

void ProgressBar::SetValue(int value) {
    value_ = value < 0 ? 0 : (value > max_ ? max_ : value);
    Notify(Property::Value);
}

void Form::SetInnerSize(int width, int height) { Place(nullptr, 0, 0, width, height, 0); }

void Form::Move(double left, double top) {
    left_ = left;
    top_ = top;
    Notify(Property::Position);
}

Control* Form::FindControl(const std::string& name) const {
    for (Control* control : controls_)
        if (control->Name() == name) return control;
    return nullptr;
}

Label& Form::LabelNamed(const std::string& name) const {
    Control* control = FindControl(name);
    auto* label = control && control->Kind() == ControlKind::Label ? static_cast<Label*>(control) : nullptr;
    if (!label) throw RuntimeError(730, "Control '" + name + "' not found");
    return *label;
}

// DDE link properties. A link is open while the mode is not 0.

void Label::SetLinkTopic(const std::string& topic) {
    if (linkMode_ != 0) throw RuntimeError(errnum::kDdeRefused, "Can't change the link topic while a link is open");
    linkTopic_ = topic;
}

void Label::SetLinkMode(int mode) {
    if (mode == linkMode_) return;
    if (mode == 0) {
        if (dde_) dde_->Disconnect();
        linkMode_ = 0;
        return;
    }
    if (linkMode_ != 0) throw RuntimeError(errnum::kDdeRefused, "A link is already open");
    const auto bar = linkTopic_.find('|');
    if (!dde_ || bar == std::string::npos ||
        !dde_->Connect(linkTopic_.substr(0, bar), linkTopic_.substr(bar + 1)))
        Raise(errnum::kDdeNoResponse);
    linkMode_ = mode;
}

void Label::SetLinkTimeout(int tenthsOfSecond) { linkTimeout_ = tenthsOfSecond; }

namespace {
void RaiseFor(DdeResult result) {
    switch (result) {
    case DdeResult::Ok: return;
    case DdeResult::Refused: Raise(errnum::kDdeRefused);
    case DdeResult::Timeout: Raise(errnum::kDdeTimeout);
    case DdeResult::NoConversation: Raise(errnum::kDdeNoChannel);
    }
}
}  // namespace

uint32_t Label::LinkTimeoutMs() const {
    if (linkMode_ == 0 || !dde_) Raise(errnum::kDdeNoChannel);
    return linkTimeout_ > 0 ? static_cast<uint32_t>(linkTimeout_) * 100u : 1u;
}

void Label::LinkExecute(const std::string& command) {
    const uint32_t timeoutMs = LinkTimeoutMs();
    RaiseFor(dde_->Execute(command, timeoutMs));
}

std::string Label::LinkRequest(const std::string& item) {
    const uint32_t timeoutMs = LinkTimeoutMs();
    std::string reply;
    RaiseFor(dde_->Request(item, timeoutMs, reply));
    return reply;
}

}  // namespace platform
