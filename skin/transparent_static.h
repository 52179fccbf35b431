#pragma once
// Static text drawn over the skin.
#include "framework/controls.h"

class CTransparentStatic : public CStatic {};
