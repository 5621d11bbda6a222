// The modeless progress dialog of one programming run.
#pragma once

#include <QDialog>

class QProgressBar;

namespace vexel {

/// One progress bar from 0 to a range, shown from the moment it is
/// constructed. It has no button and no close box; Enter and Escape only
/// hide it, and its owner deletes it when the run ends.
class CProgressDlg : public QDialog {
  Q_OBJECT

 public:
  /// Creates and shows the dialog over the top-left corner of @p pParent's
  /// client area (its owner), with the bar empty and its range 0..@p nRange.
  explicit CProgressDlg(int nRange, QWidget* pParent = nullptr);

  /// Moves the bar to @p nPos (clamped to the range); returns the previous
  /// position.
  int SetPos(int nPos);

  int Range() const { return m_nRange; }
  int Pos() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void DoDataExchange();
  void OnInitDialog();
  void PlaceOverOwner();

  QProgressBar* m_progress = nullptr;
  int m_nRange;
};

}  // namespace vexel
