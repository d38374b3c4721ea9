// Small pieces the tool dialogs build their windows from: a handler bound to a form
// that turns an escaping error into the error box, and a right-aligned button row.
#pragma once

#include "platform/Forms.h"

#include <QHBoxLayout>
#include <QPushButton>

#include <initializer_list>

namespace kv {

template <class Form> auto Safe(Form* F, void (Form::*Handler)())
{
    return [F, Handler] { SafeCall([&] { (F->*Handler)(); }, F); };
}

inline QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> Buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : Buttons)
        row->addWidget(b);
    return row;
}

} // namespace kv
