// "Textur": a tool window of thumbnails of the Textures folder. Nothing reads its
// selection; it is there to browse what the picture dialogs can tile.
#pragma once

#include "platform/DialogForm.h"

namespace kv {

class TTHumbview;

class TTextur : public TDialogForm {
public:
    explicit TTextur(QWidget* Owner = nullptr);
    ~TTextur() override;
    TTHumbview* View = nullptr;
    // The folder the view shows: the data folder's "Textures".
    static std::string TexturesFolder();

protected:
    void FormActivate() override;
};

} // namespace kv
