// Serial port names that may be handed to the device control and to a command line.
#pragma once

// True for "COM" (upper case) followed by one to three decimal digits and nothing else, such as
// COM5 or COM128. Anything else (other case, blanks, quotes, shell characters, "\\.\" prefixes)
// is refused: the name goes unquoted into the command line that starts the device enable tool.
bool IsComPortName(const char* name);
