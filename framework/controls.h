#pragma once
// The common controls as window objects; each grows only what the program uses of it.
#include "framework/wnd.h"

class CButton : public CWnd {};
class CStatic : public CWnd {};
class CProgressCtrl : public CWnd {};
class CHeaderCtrl : public CWnd {};
