// The dialog base of the Win32 edition: a dialog created from one of the
// program's DIALOG resources (written from ui/dialog_tables.h at build time),
// run modally or modelessly, whose dialog procedure only dispatches to the
// object's handlers.
#pragma once

#include <windows.h>

#include "ui/dialog_tables.h"

namespace vexel {

class CDialog {
 public:
  /// Prepares the dialog whose resource is @p tmpl's id (in the module of
  /// ResourceInstance()); @p pParent is its owner window.
  CDialog(const DialogTemplate& tmpl, HWND pParent);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  /// Creates the window (CreateDialogParamW), centres it on its owner
  /// (inside the work area), disables the owner and runs a modal loop until
  /// EndDialog; then destroys the window and returns the end code, or -1
  /// when it cannot be created.
  INT_PTR DoModal();
  /// Creates the modeless window; it takes the template's position in the
  /// client coordinates of its owner. False when it cannot be created.
  bool Create();
  /// Destroys the window, if any.
  BOOL DestroyWindow();
  /// Ends a modal dialog with @p nResult; hides a modeless one.
  void EndDialog(int nResult);

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }

 protected:
  /// After the controls exist; TRUE gives the focus to the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  /// Enter: ends the dialog with IDOK.
  virtual void OnOK() { EndDialog(IDOK); }
  /// Escape and the close box: ends the dialog with IDCANCEL.
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  /// A button-clicked (or menu) command from control @p nID; false when the
  /// dialog has no handler for it.
  virtual bool OnCommand(int nID) {
    (void)nID;
    return false;
  }
  /// Any other message: the value the dialog procedure returns, FALSE for
  /// the default handling.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  HWND CreateFromTemplate();
  void CentreWindow();
  void RunModalLoop();

  const DialogTemplate& m_template;
  HWND m_pParent;
  bool m_modal = false;
  bool m_ended = false;
  int m_nResult = -1;
};

}  // namespace vexel
