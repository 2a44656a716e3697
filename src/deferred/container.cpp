#include <string>

#include "deferred/deferred.h"
#include "log/install_log.h"

namespace {

const wchar_t kLabel[] = L"CADContainer";
const wchar_t kLabelDeMarshal[] = L"DeMarshal_CAD";
const wchar_t kOpen[] = L"[[";
const wchar_t kSeparator = L'=';
const wchar_t kClose[] = L"]]|";
constexpr size_t kCloseLen = 3;

// Built with the library, empty until a handler loads it.
CADContainer g_container;

XString AsUnicode(XString s) {
    s.setEncoding(XString::Unicode);
    return s;
}

}  // namespace

CADContainer& TheCADContainer() { return g_container; }

int CADContainer::Find(const XString& name, XString* value) const {
    XString key = AsUnicode(name);
    for (int i = 0; i < count_; ++i) {
        if (entries_[i].name.equals(key)) {
            if (value) *value = entries_[i].value;
            return i;
        }
    }
    return -1;
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
    }
    entries_[index].name = key;
    entries_[index].value = AsUnicode(value);
    return true;
}

XString CADContainer::Pack() const {
    std::wstring packed;
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
    std::wstring rest = AsUnicode(packed).wvalue();
    std::wstring name;
    State state = State::Open;
    bool stop = false;
    while (!rest.empty() && !stop) {
        switch (state) {
            case State::Open: {
                size_t at = rest.find(kOpen);
                if (at == std::wstring::npos) {
                    state = State::Broken;
                    break;
                }
                rest.erase(0, at + 2);
                state = State::Name;
                break;
            }
            case State::Name: {
                size_t at = rest.find(kSeparator);
                name = at == std::wstring::npos ? std::wstring() : rest.substr(0, at);
                if (at != std::wstring::npos) rest.erase(0, at + 1);
                state = State::Value;
                break;
            }
            case State::Value: {
                size_t at = rest.find(kClose);
                std::wstring value = rest.substr(0, at);
                rest.erase(0, value.size());
                Set(name.c_str(), value.c_str());
                state = State::Close;
                break;
            }
            case State::Close: {
                size_t at = rest.find(kClose);
                if (at == std::wstring::npos) {
                    state = State::Broken;
                    break;
                }
                if (at + kCloseLen == rest.size()) {
                    stop = true;
                    break;
                }
                rest.erase(0, at + kCloseLen);
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
