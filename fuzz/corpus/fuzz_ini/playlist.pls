[playlist]
NumberOfEntries=2
File1=/a.mp3
Title1=A
Length1=-1
Version=2
