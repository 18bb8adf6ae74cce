# Names nobody may log in with, one a line.
Sysop
Guest
New
All
Everybody
Anonymous
