/* Ids and texts of the dialog library "qvxcui.dll", defined once: the resource script and the
   C++ table both include this file. Plain macros only, so the resource compiler reads it too. */
#pragma once

/* The frame's bitmap. */
#define IDB_FRAME 1

/* Dialogs. */
#define IDD_WELCOME 100
#define IDD_QUIT 200
#define IDD_FATAL 400
#define IDD_DEVICES 600
#define IDD_FINISH 700
#define IDD_REMOVE 800
#define IDD_NOT_REGISTERED 900
#define IDD_COPYING 5000
#define IDD_STARTING 5100
#define IDD_WINDOWS_DIR 6400

/* Controls: one button id per event word, the text and the copy gauge. */
#define IDC_CONTINUE 101
#define IDC_CANCEL 102
#define IDC_EXIT 103
#define IDC_RESTART 104
#define IDC_REMOVE 105
#define IDC_TEXT 110
#define IDC_GAUGE 111

/* Sent to a dialog when an answer word that no button carries waits in the symbol
   QVX_ANSWER_SYMBOL (WPARAM: the id of the sending thread, which must be the dialog's own; LPARAM:
   0). The procedure takes the word, reports it as it stands and ends the dialog. No pointer goes
   in the message: any program on the desktop can post one. WM_APP + 1. */
#define QVX_ANSWER 0x8001
#define QVX_ANSWER_SYMBOL "QVX_ANSWER"

/* The words the procedures put into "DLGEVENT". */
#define SZ_EVENT_CONTINUE "CONTINUE"
#define SZ_EVENT_CANCEL "CANCEL"
#define SZ_EVENT_EXIT "EXIT"
#define SZ_EVENT_RESTART "RESTART"
#define SZ_EVENT_REMOVE "REMOVE"

/* Button labels. */
#define SZ_LABEL_CONTINUE "Continue"
#define SZ_LABEL_CANCEL "Cancel"
#define SZ_LABEL_EXIT "Exit"
#define SZ_LABEL_EXIT_SETUP "Exit Setup"
#define SZ_LABEL_GO_BACK "Go back"
#define SZ_LABEL_CLOSE "Close"
#define SZ_LABEL_RESTART_NOW "Restart now"
#define SZ_LABEL_RESTART_LATER "Restart later"
#define SZ_LABEL_OK "OK"
#define SZ_LABEL_REMOVE "Remove"

/* Titles and texts, one line each. */
// clang-format off
#define SZ_TITLE_100 "Welcome"
#define SZ_TEXT_100 "This program installs the driver of your 16-bit sound board on Windows NT. Choose Continue to copy the driver files and set up the board. Choose Cancel or Exit to leave Setup without changing anything."
#define SZ_TITLE_200 "Exit Setup"
#define SZ_TEXT_200 "The sound board driver is not installed yet. If you exit now, Setup changes nothing more. Choose Exit Setup to leave, or Go back to return to Setup."
#define SZ_TITLE_400 "Setup Error"
#define SZ_TEXT_400 "Setup cannot go on and ends now. Files already copied and settings already made stay as they are. Run Setup again to finish the installation."
#define SZ_TITLE_600 "Sound Devices Found"
#define SZ_TEXT_600 "Windows NT already has a wave or MIDI driver installed. Remove it with the Drivers or Multimedia control panel, then run Setup again. Setup ends now without changing anything."
#define SZ_TITLE_700 "Setup Complete"
#define SZ_TEXT_700 "The sound board driver is installed. Windows NT must restart before you can use the board. Choose Restart now to restart Windows at once, or Restart later to restart it yourself."
#define SZ_TITLE_800 "Remove the Sound Board Driver"
#define SZ_TEXT_800 "Setup will remove the sound board driver: its files, its settings, the modem it installed and the Mixer group. Settings you changed since are kept. Choose Remove to go on, or Cancel to leave everything as it is."
#define SZ_TITLE_900 "Driver Not Registered"
#define SZ_TEXT_900 "Setup copied the driver files but could not register the driver with Windows NT. Setup ends now. Log on as an administrator and run Setup again."
#define SZ_TITLE_5000 "Copying Files"
#define SZ_TEXT_5000 "Setup is copying the sound board driver files into your Windows system directory. Please wait."
#define SZ_TITLE_5100 "16-bit Sound Board NT Driver Setup"
#define SZ_TEXT_5100 "Setup is starting. Please wait."
#define SZ_TITLE_6400 "Windows Directory Not Usable"
#define SZ_TEXT_6400 "Setup cannot use your Windows directory: it cannot be found, or its name is too long. Choose Continue to install into the SYSTEM32 directory at the root of the current drive, or Exit to leave Setup."
// clang-format on
