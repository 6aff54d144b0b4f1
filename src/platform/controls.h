#pragma once
// The window and its controls as small objects that hold their properties
// (caption, visibility, enabled state, position in twips) and forward every
// change to a peer. On Windows the peer is a real child window; without a
// peer (in tests) the objects simply hold their state.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class DdeClient;

enum class ControlKind { Form, Label, CommandButton, Frame, PictureBox, ProgressBar };
enum class Property { Caption, Visible, Enabled, Position, Value };

class Control;

class ControlPeer {
public:
    virtual ~ControlPeer() = default;
    virtual void Changed(const Control& control, Property property) = 0;
    virtual void Refresh() = 0;  // repaint now, synchronously
};

struct FontSpec {
    std::string face;  // empty: the window's standard font
    double points = 0;
    int weight = 400;
    int charset = 0;
};

constexpr int kNoSystemColor = -1;
constexpr int kColorWindow = 5;           // window background
constexpr int kColorActiveCaptionText = 9;  // text of an active title bar

class Control {
public:
    Control(ControlKind kind, std::string name, int index = -1);
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    ControlKind Kind() const { return kind_; }
    const std::string& Name() const { return name_; }
    int Index() const { return index_; }  // element number in a control array, -1 otherwise

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    void Refresh();

    // Layout in twips, relative to the container's inner area.
    void Place(Control* container, int left, int top, int width, int height, int tabIndex);
    Control* Container() const { return container_; }
    double Left() const { return left_; }
    double Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int TabIndex() const { return tabIndex_; }

    FontSpec font;
    int backColor = kNoSystemColor;
    int pictureResource = 0;  // picture panel: resource id of its picture

    void AttachPeer(ControlPeer* peer) { peer_ = peer; }
    ControlPeer* Peer() const { return peer_; }

protected:
    void Notify(Property property);
    double left_ = 0;
    double top_ = 0;

private:
    ControlKind kind_;
    std::string name_;
    int index_;
    std::string caption_;
    bool visible_ = true;
    bool enabled_ = true;
    Control* container_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int tabIndex_ = 0;
    ControlPeer* peer_ = nullptr;
};

class CommandButton : public Control {
public:
    CommandButton(std::string name) : Control(ControlKind::CommandButton, std::move(name)) {}
    std::function<void()> OnClick;  // empty: a click does nothing
};

// A label; it can also act as a DDE client (link topic, mode, timeout, execute).
class Label : public Control {
public:
    Label(std::string name, int index = -1) : Control(ControlKind::Label, std::move(name), index) {}

    void AttachDde(DdeClient* client) { dde_ = client; }

    // Sizing: an auto-sized label takes its size from its text; with word
    // wrap it keeps its width and grows downward, without it it is one line
    // that grows to the right.
    bool autoSize = false;
    bool wordWrap = false;
    // An auto-sized one-line label whose text outgrows this width (twips;
    // 0: never) wraps at it instead, growing upward: its bottom stays.
    int wrapWidth = 0;

    const std::string& LinkTopic() const { return linkTopic_; }
    void SetLinkTopic(const std::string& topic);
    int LinkMode() const { return linkMode_; }
    void SetLinkMode(int mode);  // 0 no link, 2 manual link
    int LinkTimeout() const { return linkTimeout_; }
    void SetLinkTimeout(int tenthsOfSecond);
    void LinkExecute(const std::string& command);
    // The item's data from the server, as text.
    std::string LinkRequest(const std::string& item);

private:
    uint32_t LinkTimeoutMs() const;  // raises without a link
    DdeClient* dde_ = nullptr;
    std::string linkTopic_;
    int linkMode_ = 0;
    int linkTimeout_ = 50;
};

class Frame : public Control {
public:
    Frame(std::string name) : Control(ControlKind::Frame, std::move(name)) {}
};

// A progress bar: a position from 0 to its maximum.
class ProgressBar : public Control {
public:
    ProgressBar(std::string name) : Control(ControlKind::ProgressBar, std::move(name)) {}
    int Max() const { return max_; }
    int Value() const { return value_; }
    void SetMax(int max);
    void SetValue(int value);  // kept within 0 to the maximum

private:
    int max_ = 100;
    int value_ = 0;
};

class PictureBox : public Control {
public:
    PictureBox(std::string name, int index = -1) : Control(ControlKind::PictureBox, std::move(name), index) {}
};

// The top-level window. Its controls are registered in declaration order.
class Form : public Control {
public:
    explicit Form(std::string name) : Control(ControlKind::Form, std::move(name)) {}

    void SetInnerSize(int width, int height);
    int ScaleWidth() const { return Width(); }
    int ScaleHeight() const { return Height(); }
    void Move(double left, double top);  // keeps the size

    const std::vector<Control*>& Controls() const { return controls_; }
    Control* FindControl(const std::string& name) const;  // first control of that name
    Label& LabelNamed(const std::string& name) const;       // raises when there is none

    // Event handlers; the runtime raises them.
    virtual void Form_Load() {}
    virtual void Form_Unload(int& cancel) { (void)cancel; }

protected:
    void Register(Control& control) { controls_.push_back(&control); }

private:
    std::vector<Control*> controls_;
};

}  // namespace platform
