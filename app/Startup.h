// Program start-up, after the Qt application object exists: the program
// directory, the application object, the start-up look and the windows, in
// this order.  The message loop is run by the caller.
#pragma once

class TForm1;

namespace Startup {

// Runs start-up steps 1 to 4 and returns the main window (hidden, its
// FormCreate done), centred on the desktop; the other windows exist hidden.
TForm1 *CreateProgram();

// Destroys the windows CreateProgram made, the main window last.
void DestroyProgram(TForm1 *form1);

} // namespace Startup
