#include "gui/CCmdTarget.h"

const MessageMap* CCmdTarget::GetMessageMap() const
{
    static const MessageMap map{nullptr, nullptr, 0};
    return &map;
}

const MessageMapEntry* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const
{
    for (const MessageMap* map = GetMessageMap(); map; map = map->base)
    {
        for (std::size_t i = 0; i < map->count; ++i)
        {
            const MessageMapEntry& e = map->entries[i];
            if (e.message == message && e.code == code && e.id == id)
                return &e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id, UINT code)
{
    const MessageMapEntry* entry = FindMessageEntry(WM_COMMAND, code, id);
    if (!entry)
        return FALSE;
    entry->thunk(this, MAKEWPARAM(id, code), 0);
    return TRUE;
}
