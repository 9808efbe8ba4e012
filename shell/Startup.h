// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the program sets up once its application object exists, before the
// first window: shared by the program and its start-up benchmark.
void prepareApplication();
