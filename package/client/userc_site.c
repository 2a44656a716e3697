: (
	:sites (
		: (vpn.example.com)
	)
	:version (5.2)
)
