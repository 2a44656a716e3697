: (
	:sites ()
	:version (5.2)
)
