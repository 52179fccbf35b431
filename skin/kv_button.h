#pragma once
// A button drawn from the skin.
#include "framework/controls.h"

class KvButton : public CButton {};
