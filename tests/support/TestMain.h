#pragma once
// Shared by test programs; support classes add their headers beside this one.
