# Passwords nobody may choose, one a line.
password
secret
sysop
kivo
qwerty
letmein
