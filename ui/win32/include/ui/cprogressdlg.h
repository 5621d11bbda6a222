// The modeless progress dialog of one programming run.
#pragma once

#include "ui/cdialog.h"

namespace vexel {

/// One progress bar from 0 to a range, drawn in blocks also under a visual
/// style, shown from the moment it is constructed, over the top-left corner
/// of its owner's client area. It has no button and no close box; Enter and
/// Escape only hide it, and its owner deletes it when the run ends.
class CProgressDlg : public CDialog {
 public:
  /// Creates and shows the dialog, owned by @p pParent, with the bar empty
  /// and its range 0..@p nRange.
  CProgressDlg(int nRange, HWND pParent);
  ~CProgressDlg() override;

  /// Moves the bar to @p nPos; returns the previous position.
  int SetPos(int nPos);

  int Range() const { return m_nRange; }

 protected:
  BOOL OnInitDialog() override;

 private:
  void DrawBarInBlocks();
  void PlaceOverOwner();

  HWND m_progress = nullptr;  // IDC_PROGRESS, a child of the dialog
  int m_nRange;
};

}  // namespace vexel
