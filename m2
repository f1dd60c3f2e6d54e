fail	nope	1
