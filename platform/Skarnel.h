#pragma once
// User-interface service of the hosted platform. Every call goes to one backend (terminal,
// headless or script, chosen by ORVANE_UI) and, when ORVANE_UI_TRANSCRIPT names a file, is written
// there as one JSON object per line.
#include "Filesystem.h"
#include "String.h"
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Services::Skarnel::Client {

namespace Service {
// The kind of user interface: `ownInterface` for the platform's own, anything else for another.
unsigned type(unsigned query);
inline constexpr unsigned anyQuery = 0xFFFFFFFF;
inline constexpr unsigned ownInterface = 1;
} // namespace Service

class Dialog : public Object {
  public:
    enum Severity : unsigned { Information = 1, Question = 2, Continue = 3, Failure = 4 };
    // Buttons and answers.
    static constexpr unsigned Ok = 0x20;
    static constexpr unsigned YesNo = 3;
    static constexpr unsigned Yes = 1;
    // Blocks until answered; returns the button pressed (1 = yes/continue).
    static unsigned show(unsigned severity, const Ref<String>& title, const Ref<String>& text,
                         unsigned buttons, unsigned defaultButton);
    static Ref<Dialog> create(const Ref<String>& name);
    // Shows this dialog; returns when it is closed (close may come from another thread).
    void showWait(unsigned severity, const Ref<String>& title, const Ref<String>& text, unsigned buttons,
                  unsigned defaultButton) const;
    void close(unsigned result) const;
    unsigned id() const { return m_id; }

  private:
    explicit Dialog(unsigned id) : m_id(id) {}
    unsigned m_id;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_closedCv;
    mutable bool m_closed = false;
};

class Progress : public Object {
  public:
    static Ref<Progress> create(const Ref<String>& title, const Ref<String>& text, uint64_t maximum,
                                bool flag1, bool flag2);
    ~Progress() override;
    void setText(const Ref<String>& text);
    void setMaximum(uint64_t maximum);
    void setValue(uint64_t value);
    bool cancelled(bool flag);
    // Bracket around changes made from another thread.
    void beginUpdate();
    void endUpdate();
    // Called before an export transfer starts: restart the elapsed time, clear the step, redraw.
    void restart();
    void setStep(uint64_t step);
    void redraw();
    unsigned id() const { return m_id; }
    uint64_t maximum() const { return m_maximum; }

  private:
    explicit Progress(unsigned id, uint64_t maximum) : m_id(id), m_maximum(maximum) {}
    unsigned m_id;
    std::atomic<uint64_t> m_maximum;
    // Numbers each cancel query (asked once for every block a copy moves, from any thread).
    std::atomic<unsigned> m_queries = 0;
};

namespace Elements {
class Element : public Object {
  public:
    const Ref<String>& id() const { return m_id; }
    virtual const char* kind() const = 0;
    void setText(const Ref<String>& text) { m_text = text; }
    const Ref<String>& text() const { return m_text; }
    void setHint(const Ref<String>& hint) { m_hint = hint; }
    const Ref<String>& hint() const { return m_hint; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool enabled() const { return m_enabled; }

  protected:
    explicit Element(Ref<String> id) : m_id(std::move(id)) {}

  private:
    Ref<String> m_id, m_text, m_hint;
    bool m_enabled = true;
};

class GroupBox : public Element {
  public:
    static Ref<GroupBox> create(const Ref<String>& id) { return Ref<GroupBox>(new GroupBox(id)); }
    const char* kind() const override { return "groupBox"; }
    void append(const Ref<Element>& child) { m_children.push_back(child); }
    const std::vector<Ref<Element>>& children() const { return m_children; }
    void setCheckable(bool checkable) { m_checkable = checkable; }
    bool checkable() const { return m_checkable; }
    void setChecked(bool checked) { m_checked = checked; }
    bool checked() const { return m_checked; }

  private:
    using Element::Element;
    std::vector<Ref<Element>> m_children;
    bool m_checkable = false;
    bool m_checked = false;
};

class CheckBox : public Element {
  public:
    static Ref<CheckBox> create(const Ref<String>& id) { return Ref<CheckBox>(new CheckBox(id)); }
    const char* kind() const override { return "checkBox"; }
    void setChecked(bool checked) { m_checked = checked; }
    bool checked() const { return m_checked; }

  private:
    using Element::Element;
    bool m_checked = false;
};

class Label : public Element {
  public:
    static Ref<Label> create(const Ref<String>& id) { return Ref<Label>(new Label(id)); }
    const char* kind() const override { return "label"; }

  private:
    using Element::Element;
};

class DropDown : public Element {
  public:
    static Ref<DropDown> create(const Ref<String>& id) { return Ref<DropDown>(new DropDown(id)); }
    const char* kind() const override { return "dropDown"; }
    void addItem(const Ref<String>& text, const Ref<Object>& data = {}) { m_items.push_back({text, data}); }
    size_t itemCount() const { return m_items.size(); }
    const Ref<String>& itemText(size_t index) const { return m_items.at(index).text; }
    void select(long index) { m_selected = index; }
    long selectedIndex() const { return m_selected; }

  private:
    using Element::Element;
    struct Item {
        Ref<String> text;
        Ref<Object> data;
    };
    std::vector<Item> m_items;
    long m_selected = -1;
};
} // namespace Elements

class Parameters : public Object {
  public:
    static Ref<Parameters> create() { return Ref<Parameters>(new Parameters); }
    void setFlags(unsigned flags) { m_flags = flags; }
    unsigned flags() const { return m_flags; }
    void setTitle(const Ref<String>& title) { m_title = title; }
    const Ref<String>& title() const { return m_title; }
    void setPrompt(const Ref<String>& prompt) { m_prompt = prompt; }
    const Ref<String>& prompt() const { return m_prompt; }
    void setDefaultName(const Ref<String>& name) { m_defaultName = name; }
    const Ref<String>& defaultName() const { return m_defaultName; }
    std::vector<Ref<Elements::Element>>& elements() { return m_elements; }

  private:
    Parameters() = default;
    unsigned m_flags = 0;
    Ref<String> m_title, m_prompt, m_defaultName;
    std::vector<Ref<Elements::Element>> m_elements;
};

// The drive-selection dialog and what it returns.
class FSItem : public Object {
  public:
    static Ref<FSItem> create(const Ref<Parameters>& parameters);
    const Ref<String>& path() const { return m_path; }
    // The file the dialog created under the name the user chose (only when renaming is allowed).
    const Ref<Services::Filesystem::Client::File>& file() const { return m_file; }
    // The drive stays mounted until the run ends, not only while the item lives: its caller still
    // works below the path after releasing the item (removing what a cancelled save left).
    ~FSItem() override;

  private:
    FSItem() = default;
    Ref<String> m_path;
    Ref<Services::Filesystem::Client::File> m_file;
    Ref<Services::Mount::Client::Entry> m_mount;
};

// Flag bits of the drive-selection dialog. The hosted dialog acts on the first two; it offers
// every drive of the namespace and leaves the others to a platform whose dialog can narrow its
// choice, for which the callers still set them.
namespace Flags {
inline constexpr unsigned AllowRename = 0x02; // the user names the file and the dialog creates it
inline constexpr unsigned ForceBoot = 0x40;   // the boot drive whenever it is available

inline constexpr unsigned DriveOnly = 0x04;      // a drive is chosen, no name
inline constexpr unsigned WritableOnly = 0x08;   // only drives that can be written
inline constexpr unsigned NoNewFolder = 0x80;    // no folder is made from the dialog
inline constexpr unsigned HostDrives = 0x100;    // the host's drives too
inline constexpr unsigned WithElements = 0x200;  // the caller's elements below the drives
inline constexpr unsigned HostLogDrives = 0x400; // the host's drives that may hold logs too
inline constexpr unsigned Quiet = 0x800;         // nothing is asked when one drive fits
} // namespace Flags

} // namespace Services::Skarnel::Client
