# Rows that join the dialogs to the tables wixl writes; build-package runs
# each statement with msibuild -q. Lines starting with # are comments.
#
# Windows draws every dialog control in DefaultUIFont unless its text names
# another style; without it the engine falls back to the system font.
INSERT INTO `Property` (`Property`, `Value`) VALUES ('DefaultUIFont', 'DlgFont8')
# The engine shows its own errors and warnings in the package's error dialog
# (it must carry the Error attribute and the buttons A, C, I, N, O, R, Y);
# without ErrorDialog Windows uses a plain message box.
INSERT INTO `Property` (`Property`, `Value`) VALUES ('ErrorDialog', 'ErrorDlg')
# The wizard starts after OnBegin (1010), which computed the dt_XY flow, and
# ends before the prologue (1295); a removal shows no wizard.
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('WelcomeDlg', 'NOT REMOVE~="ALL"', 1200)
# Modeless: it stays up through the prologue and the execute sequence and
# follows the ActionText, ActionData and SetProgress events.
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('ProgressDlg', 1280)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('ExitDlg', -1)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('UserExitDlg', -2)
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('FatalErrorDlg', -3)
