// The one place Kestrin's version lives: the version records of both programs
// are made from it, kestrin-cli prints it, and the release is named after it.
#pragma once

#define KESTRIN_VERSION_NUMBERS 0, 3, 1, 0
#define KESTRIN_VERSION_TEXT "0.3.1.0"
