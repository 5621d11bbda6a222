#include "ui/cprogressdlg.h"

#include <algorithm>

#include <QKeyEvent>
#include <QProgressBar>

#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel {

CProgressDlg::CProgressDlg(int nRange, QWidget* pParent) : QDialog(pParent), m_nRange(nRange) {
  BuildDialog(*this, kProgressTemplate);
  DoDataExchange();
  OnInitDialog();
  PlaceOverOwner();
  show();
}

void CProgressDlg::DoDataExchange() { m_progress = DlgItem<QProgressBar>(*this, IDC_PROGRESS); }

// An empty image gives the range 0..0, which Qt would draw as a busy bar;
// a one-step range keeps it an empty bar instead.
void CProgressDlg::OnInitDialog() {
  m_progress->setRange(0, std::max(m_nRange, 1));
  m_progress->setValue(0);
}

// The template's position 0, 0 is taken in the owner's client coordinates.
void CProgressDlg::PlaceOverOwner() {
  if (QWidget* owner = parentWidget()) {
    move(owner->mapToGlobal(QPoint(0, 0)));
  }
}

int CProgressDlg::SetPos(int nPos) {
  const int previous = m_progress->value();
  m_progress->setValue(std::clamp(nPos, 0, m_progress->maximum()));
  return previous;
}

int CProgressDlg::Pos() const { return m_progress->value(); }

// Enter and Escape end a dialog the default way, which for this modeless one
// only hides it: the run goes on and the owner still deletes it.
void CProgressDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: accept(); break;
    case Qt::Key_Escape: reject(); break;
    default: QDialog::keyPressEvent(event); break;
  }
}

}  // namespace vexel
