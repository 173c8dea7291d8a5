// The skinned window classes: the dialog base that paints a background
// bitmap, the bitmap button and the text progress bar. The backends draw;
// these classes hold the state and the rules the launcher relies on.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kvn {

// Base of skinned dialogs: background picture, its style, drag by any
// point, transparent key colour.
class CDialogSK : public DialogHandler {
public:
    void EnableDragAnywhere(bool enable);
    bool SetBackground(const WString& bitmapFile);
    void SetBackgroundStyle(int style);
    void SetColorKey(std::uint32_t colorRef);

protected:
    bool onInitDialog(Dialog& dialog) override;
    void onDestroy() override;
    Dialog* m_pDialog = nullptr;
};

// A bitmap button or picture check box bound to a dialog control.
class CButtonST {
public:
    void Attach(ImageButton* control) { m_pControl = control; }
    ImageButton* control() const { return m_pControl; }
    // The launcher's set-up of each button: images, top-left alignment,
    // pressed shift (1, 1), no border, sized to the in image.
    int SetImages(int inBitmapId, int outBitmapId);
    void SizeToImage();
    void SetCheck(int state);
    int GetCheck() const;
    void MoveWindow(int x, int y, int width, int height);
    void ShowWindow(bool visible);

private:
    ImageButton* m_pControl = nullptr;
};

// The progress bar with a line of text over it.
class CTextProgress {
public:
    void Attach(ProgressBar* control) { m_pControl = control; }
    ProgressBar* control() const { return m_pControl; }
    void SetText(const WString& text);
    void SetRange(int lower, int upper);
    void SetPos(int position);
    int GetPos() const;
    void MoveWindow(int x, int y, int width, int height);
    void ShowWindow(bool visible);

private:
    ProgressBar* m_pControl = nullptr;
};

// Position of the filled part's end for a bar of the given width
// ((width / (upper - lower)) * pos, truncated); 0 for an empty range.
int ProgressSplit(int width, int lower, int upper, int pos);

// Where the minimised window draws its icon: ((client - icon + 1) / 2).
inline int IconOffset(int client, int icon) { return (client - icon + 1) / 2; }

}  // namespace kvn
