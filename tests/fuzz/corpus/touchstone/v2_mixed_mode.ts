[Version] 2.0
# GHz S RI R 50
[Number of Ports] 4
[Number of Frequencies] 2
[Reference] 50 50 50 50
[Matrix Format] Upper
[Mixed-Mode Order] D1,2 D3,4 C1,2 C3,4
[Network Data]
1 0.1 0 0.8 -0.2 0 0 0 0 0.1 0 0 0 0 0 0.2 0 0.7 -0.1 0.2 0
2 0.1 0 0.7 -0.4 0 0 0 0 0.1 0 0 0 0 0 0.2 0 0.6 -0.3 0.2 0
[End]
