// The seam between the engine sound and the platform's audio output: opens
// the device (or the "--record-audio" capture), hooks the mixer up to it and
// gives the main loop its per-frame and per-step calls. Links the platform
// layer; the rest of sound/ stays headless.
#pragma once

// Start-up: with a capture path, records into that file (88320 Hz mono, 690
// samples per tick); otherwise, unless no_sound, opens the sound device at
// "sound-rate" with "sound-mixahead" and "sound-channels". False when
// nothing was opened (the game then runs silent).
bool open_sound_output(const char* capture_path, bool no_sound);
void close_sound_output();
// True while a device or capture is open: the main loop then produces sound.
bool sound_output_open();
bool sound_capturing();

// Per frame, after every bike's produce_bike_sound: tops the device's ring up
// to the mix-ahead. Does nothing while capturing.
void submit_sound_block();
// Per step while capturing, after the race step: appends the step's 690
// samples to the file. False when not capturing or the write failed.
bool capture_sound_tick();
