# An affine least-squares fit solved exactly in rationals, for the expected values of the real-scan test.
import re, sys, math
from fractions import Fraction as F
def solve(A,b):
    n=len(A); M=[row[:]+[b[i]] for i,row in enumerate(A)]
    for c in range(n):
        p=max(range(c,n),key=lambda r:abs(M[r][c])); M[c],M[p]=M[p],M[c]
        for r in range(n):
            if r!=c:
                f=M[r][c]/M[c][c]; M[r]=[x-f*y for x,y in zip(M[r],M[c])]
    return [M[i][n]/M[i][i] for i in range(n)]
def fit(P):
    P=[tuple(F(v) for v in p) for p in P]
    rows=[(c,r,F(1)) for c,r,_,_ in P]
    N=[[sum(a[i]*a[j] for a in rows) for j in range(3)] for i in range(3)]
    ce=solve(N,[sum(a[i]*p[2] for a,p in zip(rows,P)) for i in range(3)])
    cn=solve(N,[sum(a[i]*p[3] for a,p in zip(rows,P)) for i in range(3)])
    out=[]
    det=ce[0]*cn[1]-ce[1]*cn[0]
    for a,p in zip(rows,P):
        re_=p[2]-sum(x*y for x,y in zip(ce,a)); rn=p[3]-sum(x*y for x,y in zip(cn,a))
        pc=( cn[1]*re_-ce[1]*rn)/det; pr=(-cn[0]*re_+ce[0]*rn)/det
        out.append((float(re_),float(rn),math.hypot(float(pc),float(pr))))
    n=len(P)
    d2=sum(e*e+nn*nn for e,nn,_ in out); p2=sum(px*px for _,_,px in out)
    print("n",n,"rms map %.10g"%math.sqrt(d2/n),"rms px %.10g"%math.sqrt(p2/n),"rms px n-k %.10g"%math.sqrt(p2/(n-3)))
    i=max(range(n),key=lambda k:out[k][2]); print("largest",i+1,"%.10g %.10g %.10g"%out[i])
    print("first %.10g %.10g %.10g"%out[0])
P=[]
for l in open(sys.argv[1]).read().split('\n')[1:]:
    if not l.strip(): continue
    mx,my,px,py,en=l.split(',')
    P.append((F(px)-F(1,2),-F(py)-F(1,2),F(mx),F(my)))
fit(P)
P=[]
for m in re.finditer(r'Pixel="([^"]+)" Line="([^"]+)" X="([^"]+)" Y="([^"]+)"',open(sys.argv[2]).read()):
    px,py,x,y=m.groups(); P.append((F(px)-F(1,2),F(py)-F(1,2),F(x),F(y)))
fit(P)
