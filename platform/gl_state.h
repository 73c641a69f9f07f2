// The fixed OpenGL state the game sets once its context exists, the driver's
// identification lines in the log, and the two per-frame calls the main loop
// makes itself (clearing a frame no renderer drew, and "--glfinish"). Every
// entry point is fetched by name through gl_proc_address().
#pragma once

// Logs "GL_VENDOR: ...", "GL_RENDERER: ...", "GL_VERSION: ..." and
// "GL_EXTENSIONS: ...". False when the context gives no version string (no
// usable context).
bool log_gl_strings();

// Clears the buffers, sets the clear colour (0.196078, 0.6, 0.8, 0),
// back-face culling and byte-aligned pixel rows for reading and writing;
// flat shading for the whole run with flat_shading ("--fugly").
void set_initial_gl_state(bool flat_shading);

// Clears colour and depth to the clear colour.
void clear_gl_frame();
// Waits for the GL to finish the frame.
void finish_gl_frame();
