// The screens' dialog sink: modal QMessageBox dialogs with Portuguese
// buttons ("OK"; "Sim" and "Não" for questions) and titles by message type.
// "Não" is also the answer when a question is dismissed with Escape or the
// close box. The busy cursor is suspended while a dialog is up so that the
// user can point at its buttons. Details, when given, sit behind the box's
// "Show Details..." button.
#pragma once

#include "shared/Services.h"

namespace trd::gui {

// Object name of the message box, for tests that answer it.
inline constexpr const char* kMessageBoxName = "dlgMensagem";

class QtDialogs final : public shared::Dialogs {
 public:
  shared::MsgAnswer Show(std::string_view text, shared::MsgType type,
                         shared::MsgButtons buttons) override;
  shared::MsgAnswer ShowDetailed(std::string_view text, std::string_view details, shared::MsgType type,
                                 shared::MsgButtons buttons) override;
};

}  // namespace trd::gui
