#pragma once
// Message maps: each class that handles messages lists them in a static table that chains to
// its base class's table. A handler is reached through a small thunk that casts the target
// back to the class that declared it, so handlers keep their natural signatures.
#include "gui/WinTypes.h"

#include <cstddef>

class CCmdTarget;

using MessageThunk = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry
{
    UINT message; // WM_COMMAND, WM_NOTIFY, WM_DROPFILES, ...
    UINT code;    // notification code for WM_COMMAND and WM_NOTIFY, else 0
    UINT id;      // control or command id for WM_COMMAND and WM_NOTIFY, else 0
    MessageThunk thunk;
};

struct MessageMap
{
    const MessageMap* base;
    const MessageMapEntry* entries;
    std::size_t count;
};

class CCmdTarget
{
public:
    virtual ~CCmdTarget() = default;

    virtual const MessageMap* GetMessageMap() const;
    // The first entry for the message in this class's map or its bases' maps; null when none.
    const MessageMapEntry* FindMessageEntry(UINT message, UINT code, UINT id) const;
    // Runs the command handler for (id, code) when the map has one.
    virtual BOOL OnCmdMsg(UINT id, UINT code);
};

namespace msgmap {

template <class T, auto Handler>
LRESULT CommandThunk(CCmdTarget* target, WPARAM, LPARAM)
{
    (static_cast<T*>(target)->*Handler)();
    return 0;
}

template <class T, auto Handler>
LRESULT NotifyThunk(CCmdTarget* target, WPARAM, LPARAM lParam)
{
    LRESULT result = 0;
    (static_cast<T*>(target)->*Handler)(reinterpret_cast<NMHDR*>(lParam), &result);
    return result;
}

template <class T, auto Handler>
LRESULT DropFilesThunk(CCmdTarget* target, WPARAM wParam, LPARAM)
{
    (static_cast<T*>(target)->*Handler)(reinterpret_cast<HDROP>(wParam));
    return 0;
}

// WM_COMMAND with the given id and notification code: void T::Handler()
template <class T, auto Handler>
constexpr MessageMapEntry Command(UINT id, UINT code = 0)
{
    return {WM_COMMAND, code, id, &CommandThunk<T, Handler>};
}

// WM_NOTIFY from control `id` with `code`: void T::Handler(NMHDR*, LRESULT*)
template <class T, auto Handler>
constexpr MessageMapEntry Notify(UINT id, UINT code)
{
    return {WM_NOTIFY, code, id, &NotifyThunk<T, Handler>};
}

// WM_DROPFILES: void T::Handler(HDROP)
template <class T, auto Handler>
constexpr MessageMapEntry DropFiles()
{
    return {WM_DROPFILES, 0, 0, &DropFilesThunk<T, Handler>};
}

} // namespace msgmap
