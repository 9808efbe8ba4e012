// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by test programs; support classes add their headers beside this one.
