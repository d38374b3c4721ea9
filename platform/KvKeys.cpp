#include "platform/KvKeys.h"

#include <Qt>

namespace kv {

uint16_t VirtualKeyFromQt(int K)
{
    if (K >= Qt::Key_A && K <= Qt::Key_Z)
        return uint16_t('A' + (K - Qt::Key_A));
    if (K >= Qt::Key_0 && K <= Qt::Key_9)
        return uint16_t('0' + (K - Qt::Key_0));
    if (K >= Qt::Key_F1 && K <= Qt::Key_F24)
        return uint16_t(VK_F1 + (K - Qt::Key_F1));
    switch (K) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
    }
}

TShiftState ShiftFromQtModifiers(uint32_t QtModifiers)
{
    TShiftState s = 0;
    if (QtModifiers & Qt::ShiftModifier)
        s |= ssShift;
    if (QtModifiers & Qt::ControlModifier)
        s |= ssCtrl;
    if (QtModifiers & Qt::AltModifier)
        s |= ssAlt;
    return s;
}

TShortCut ShortCutFromQtKey(int QtKey, uint32_t QtModifiers)
{
    const uint16_t vk = VirtualKeyFromQt(QtKey);
    if (vk == 0)
        return 0;
    TShortCut s = 0;
    if (QtModifiers & Qt::ShiftModifier)
        s |= scShift;
    if (QtModifiers & Qt::ControlModifier)
        s |= scCtrl;
    if (QtModifiers & Qt::AltModifier)
        s |= scAlt;
    return ShortCut(vk, s);
}

} // namespace kv
