#include "skin/skin.h"

namespace kvn {

bool CDialogSK::onInitDialog(Dialog& dialog) {
    m_pDialog = &dialog;
    return true;
}

void CDialogSK::onDestroy() { m_pDialog = nullptr; }

void CDialogSK::EnableDragAnywhere(bool enable) {
    if (m_pDialog) m_pDialog->enableDragAnywhere(enable);
}

bool CDialogSK::SetBackground(const WString& bitmapFile) {
    return m_pDialog && m_pDialog->setBackgroundFile(bitmapFile);
}

void CDialogSK::SetBackgroundStyle(int style) {
    if (m_pDialog) m_pDialog->setBackgroundStyle(style);
}

void CDialogSK::SetColorKey(std::uint32_t colorRef) {
    if (m_pDialog) m_pDialog->setColorKey(colorRef);
}

int CButtonST::SetImages(int inBitmapId, int outBitmapId) {
    return m_pControl ? m_pControl->setImages(inBitmapId, outBitmapId) : 1;
}
void CButtonST::SizeToImage() {
    if (m_pControl) m_pControl->sizeToImage();
}
void CButtonST::SetCheck(int state) {
    if (m_pControl) m_pControl->setCheck(state);
}
int CButtonST::GetCheck() const { return m_pControl ? m_pControl->checkState() : 0; }
void CButtonST::MoveWindow(int x, int y, int width, int height) {
    if (m_pControl) m_pControl->move(x, y, width, height);
}
void CButtonST::ShowWindow(bool visible) {
    if (m_pControl) m_pControl->show(visible);
}

void CTextProgress::SetText(const WString& text) {
    if (m_pControl) m_pControl->setBarText(text);
}
void CTextProgress::SetRange(int lower, int upper) {
    if (m_pControl) m_pControl->setRange(lower, upper);
}
void CTextProgress::SetPos(int position) {
    if (m_pControl) m_pControl->setPos(position);
}
int CTextProgress::GetPos() const { return m_pControl ? m_pControl->pos() : 0; }
void CTextProgress::MoveWindow(int x, int y, int width, int height) {
    if (m_pControl) m_pControl->move(x, y, width, height);
}
void CTextProgress::ShowWindow(bool visible) {
    if (m_pControl) m_pControl->show(visible);
}

int ProgressSplit(int width, int lower, int upper, int pos) {
    if (upper == lower) return 0;
    const double split = static_cast<double>(width) / static_cast<double>(upper - lower) * pos;
    return static_cast<int>(split);
}

}  // namespace kvn
