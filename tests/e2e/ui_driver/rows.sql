INSERT INTO `Property` (`Property`, `Value`) VALUES ('DefaultUIFont', 'DlgFont')
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('WelcomeDlg', 'NOT Installed', 1200)
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('AskSpice', 38, '', 'Set r = Session.Installer.CreateRecord(0) : r.StringData(0) = "Really spice it?" : Session.Property("SPICE_ANSWER") = CStr(Session.Message(&H02000134, r))')
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('AskSpice', 'FLAVOUR="spiced"', 1250)
