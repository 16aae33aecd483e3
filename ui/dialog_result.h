// The results of a modal dialog or message box: the button IDs of the
// window framework. IDOK and IDCANCEL are also the object names ("1", "2")
// of the OK and Cancel buttons in the resource library's forms.
//
// Contract: plain constants; any thread, no initialisation order.
#pragma once

enum DialogResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
