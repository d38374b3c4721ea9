#include "widgets/KvDialogKeys.h"

#include <QWidget>

namespace kv {

bool SendDialogKey(QWidget* Sender, uint16_t Key, TShiftState Shift)
{
    if (!Sender)
        return false;
    QWidget* Form = Sender->window();
    const auto Controls = Form->findChildren<QWidget*>();
    for (QWidget* W : Controls) {
        if (W == Sender)
            continue;
        if (auto* Target = dynamic_cast<TDialogKeyTarget*>(W))
            if (Target->DialogKey(Key, Shift))
                return true;
    }
    return false;
}

} // namespace kv
