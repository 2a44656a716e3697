#include <string>

#include "deferred/deferred.h"
#include "log/install_log.h"

namespace {

const wchar_t kLabel[] = L"CADContainer";
const wchar_t kLabelDeMarshal[] = L"DeMarshal_CAD";
const wchar_t kOpen[] = L"[[";
const wchar_t kSeparator[] = L"=";
const wchar_t kClose[] = L"]]|";
constexpr size_t kCloseLen = 3;

// Built with the library, empty until a handler loads it.
CADContainer g_container;

// The first `mark` at or after a position that only grows: the text is
// searched again only once the position has passed the last match, so a
// mark that is rare or missing costs one scan, not one per entry.
class NextMark {
public:
    NextMark(const std::wstring& text, const wchar_t* mark) : text_(text), mark_(mark) {}
    size_t From(size_t pos) {
        if (!searched_ || (at_ != std::wstring::npos && at_ < pos)) at_ = text_.find(mark_, pos);
        searched_ = true;
        return at_;
    }

private:
    const std::wstring& text_;
    const wchar_t* mark_;
    size_t at_ = std::wstring::npos;
    bool searched_ = false;
};

XString AsUnicode(XString s) {
    s.setEncoding(XString::Unicode);
    return s;
}

}  // namespace

CADContainer& TheCADContainer() { return g_container; }

int CADContainer::Find(const XString& name, XString* value) const {
    auto found = index_.find(AsUnicode(name).wvalue());
    if (found == index_.end()) return -1;
    if (value) *value = entries_[found->second].value;
    return found->second;
}

bool CADContainer::Set(const XString& name, const XString& value) {
    XString key = AsUnicode(name);
    int index = Find(key, nullptr);
    if (index < 0) {
        if (count_ == kCapacity) {
            LogMessage(ERROR_NOT_ENOUGH_MEMORY, kLabel, L"Container is full (%d entries): %s not stored", kCapacity,
                       key.wvalue());
            return false;
        }
        index = count_++;
        index_.emplace(key.wvalue(), index);
    }
    entries_[index].name = key;
    entries_[index].value = AsUnicode(value);
    return true;
}

XString CADContainer::Pack() const {
    size_t length = 0;
    for (int i = 0; i < count_; ++i) length += entries_[i].name.length() + entries_[i].value.length() + 6;
    std::wstring packed;
    packed.reserve(length);
    for (int i = 0; i < count_; ++i) {
        packed += kOpen;
        packed += entries_[i].name.wvalue();
        packed += kSeparator;
        packed += entries_[i].value.wvalue();
        packed += kClose;
    }
    return XString(packed.c_str());
}

void CADContainer::Unpack(const XString& packed) {
    enum class State { Open, Name, Value, Close, Broken };
    // The remaining text R is text[pos..]: moving a position instead of
    // erasing R's front keeps a long text to one pass.
    const std::wstring text = AsUnicode(packed).wvalue();
    size_t pos = 0;
    NextMark open(text, kOpen), separator(text, kSeparator), close(text, kClose);
    std::wstring name;
    State state = State::Open;
    bool stop = false;
    while (pos < text.size() && !stop) {
        switch (state) {
            case State::Open: {
                size_t at = open.From(pos);
                if (at == std::wstring::npos) {
                    state = State::Broken;
                    break;
                }
                pos = at + 2;
                state = State::Name;
                break;
            }
            case State::Name: {
                size_t at = separator.From(pos);
                name = at == std::wstring::npos ? std::wstring() : text.substr(pos, at - pos);
                if (at != std::wstring::npos) pos = at + 1;
                state = State::Value;
                break;
            }
            case State::Value: {
                size_t at = close.From(pos);
                size_t end = at == std::wstring::npos ? text.size() : at;
                std::wstring value = text.substr(pos, end - pos);
                pos = end;
                Set(name.c_str(), value.c_str());
                state = State::Close;
                break;
            }
            case State::Close: {
                size_t at = close.From(pos);
                if (at == std::wstring::npos) {
                    state = State::Broken;
                    break;
                }
                if (at + kCloseLen == text.size()) {
                    stop = true;
                    break;
                }
                pos = at + kCloseLen;
                state = State::Open;
                break;
            }
            case State::Broken:
                stop = true;
                break;
        }
    }
    // A text that runs out inside an entry is as broken as one without marks.
    bool endedInsideEntry = !stop && state != State::Open;
    if (state == State::Broken || endedInsideEntry) {
        LogMessage(0, kLabelDeMarshal, L"Critical Error: Failed to de-marshal data from CustomActionData");
        Clear();
    }
}

XString GetCADValue(const XString& name) {
    XString value;
    g_container.Find(name, &value);
    return value;
}
